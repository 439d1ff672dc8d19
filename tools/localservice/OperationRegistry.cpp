#include "OperationRegistry.h"

namespace localservice {

std::string OperationRegistry::createPending(const std::string& user, const std::string& service,
                                             const std::string& action, const std::string& method,
                                             const std::string& target, const std::string& body) {
    Operation op;
    op.id = randomId("op-", 12);
    op.user = user;
    op.service = service;
    op.action = action;
    op.method = method;
    op.target = target;
    op.bodyDigest = sha256(body);
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op.id] = op;
    return op.id;
}

std::string OperationRegistry::createTransaction(const std::string& user,
                                                 const std::string& service,
                                                 const Json::Value& body) {
    Operation op;
    op.id = randomId("tx-", 12);
    op.user = user;
    op.service = service;
    op.action = body["OperationCode"].asString();
    op.isTransaction = true;
    op.transaction = body;
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op.id] = op;
    return op.id;
}

bool OperationRegistry::findPending(const std::string& id, const std::string& user,
                                    const std::string& service, bool transaction,
                                    Operation& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ops_.find(id);
    if (it == ops_.end() || it->second.user != user || it->second.service != service ||
        it->second.isTransaction != transaction || it->second.state != State::Pending)
        return false;
    out = it->second;
    return true;
}

void OperationRegistry::confirm(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ops_.find(id);
    if (it != ops_.end() && it->second.state == State::Pending) it->second.state = State::Confirmed;
}

bool OperationRegistry::usePending(const std::string& id, const std::string& user,
                                   const std::string& service, const std::string& action,
                                   const std::string& method, const std::string& target,
                                   const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ops_.find(id);
    if (it == ops_.end()) return false;
    Operation& op = it->second;
    if (op.isTransaction || op.state != State::Confirmed || op.user != user ||
        op.service != service || op.action != action || op.method != method ||
        op.target != target || op.bodyDigest != sha256(body))
        return false;
    op.state = State::Used;
    return true;
}

bool OperationRegistry::useTransaction(const std::string& id, const std::string& user,
                                       const std::string& service, const std::string& action,
                                       Json::Value& tx) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ops_.find(id);
    if (it == ops_.end()) return false;
    Operation& op = it->second;
    if (!op.isTransaction || op.state != State::Confirmed || op.user != user ||
        op.service != service || op.action != action)
        return false;
    op.state = State::Used;
    tx = op.transaction;
    return true;
}

std::string OperationRegistry::startSession(Session s) {
    s.refId = randomId("ch-", 12);
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_[s.refId] = s;
    return s.refId;
}

bool OperationRegistry::findSession(const std::string& refId, Session& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(refId);
    if (it == sessions_.end()) return false;
    out = it->second;
    return true;
}

void OperationRegistry::updateSession(const Session& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_[s.refId] = s;
}

void OperationRegistry::endSession(const std::string& refId) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(refId);
}

void OperationRegistry::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_.clear();
    sessions_.clear();
}

bool transactionParam(const Json::Value& tx, const std::string& name, std::string& value) {
    const Json::Value& params = tx["Parameters"];
    if (!params.isArray()) return false;
    for (const auto& p : params) {
        if (p.isObject() && p["Name"].isString() && p["Name"].asString() == name &&
            p["Value"].isString()) {
            value = p["Value"].asString();
            return true;
        }
    }
    return false;
}

}  // namespace localservice
