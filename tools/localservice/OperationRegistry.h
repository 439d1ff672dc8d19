#pragma once
#include <json/json.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Codec.h"

namespace localservice {

// Operations that wait for a confirmation: the pending "v2/" operations (named by their
// "OperationId") and the transactions of API version 1 (named by "TransactionTokenId"),
// and the confirmation sessions of the auth server that are answering challenges.
class OperationRegistry {
  public:
    enum class State { Pending, Confirmed, Used };
    struct Operation {
        std::string id;
        std::string user;
        std::string service;
        std::string action;
        bool isTransaction = false;
        std::string method;  // pending v2 operation: the request that will carry it out
        std::string target;
        Bytes bodyDigest;
        Json::Value transaction;  // transaction: its body
        State state = State::Pending;
    };
    struct Session {
        std::string refId;
        std::string user;
        std::string service;
        std::string reference;
        std::string stage;  // "choice" or "text"
        uint32_t pollsLeft = 0;
        std::vector<std::string> choices;
    };

    std::string createPending(const std::string& user, const std::string& service,
                              const std::string& action, const std::string& method,
                              const std::string& target, const std::string& body);
    std::string createTransaction(const std::string& user, const std::string& service,
                                  const Json::Value& body);
    // The pending operation or transaction of that user and service, by reference.
    bool findPending(const std::string& id, const std::string& user, const std::string& service,
                     bool transaction, Operation& out) const;
    void confirm(const std::string& id);

    // Uses the confirmed operation bound to a token when it is this very request.
    bool usePending(const std::string& id, const std::string& user, const std::string& service,
                    const std::string& action, const std::string& method, const std::string& target,
                    const std::string& body);
    // Uses the confirmed transaction bound to a token when its code is action.
    bool useTransaction(const std::string& id, const std::string& user, const std::string& service,
                        const std::string& action, Json::Value& tx);

    std::string startSession(Session s);
    bool findSession(const std::string& refId, Session& out) const;
    void updateSession(const Session& s);
    void endSession(const std::string& refId);

    void clear();

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Operation> ops_;
    std::map<std::string, Session> sessions_;
};

// The "Value" of the first {"Name", "Value"} entry named name in a transaction's "Parameters".
bool transactionParam(const Json::Value& tx, const std::string& name, std::string& value);

}  // namespace localservice
