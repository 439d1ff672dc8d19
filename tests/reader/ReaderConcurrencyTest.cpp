// Several reader contexts at once through the built libnimbex.so: threads
// of one process, and forked processes that use the module afresh. Every
// locked sequence (extensions written, the certificate's record asked,
// extensions written again; the bodies name the sequence's owner) must reach
// the service whole: no request of another sequence between its requests.
#include <nimbex/reader.h>
#include <openssl/evp.h>

#include <map>
#include <thread>

#include "ChildProcess.h"
#include "ReaderContainerFixture.h"

namespace {

using csphost::Host;
using csphost::Session;

constexpr int kRounds = 4;

class ReaderConcurrency : public nimbex_test::ReaderContainerFixture {
  protected:
    void SetUp() override {
        SaveService("local-v2");
        Link("signing", 1, AT_SIGNATURE, 1);
    }

    static void LockedSequence(Session& session, unsigned char who) {
        session.Lock();
        session.WriteFile(CLOUD_FILE_EXTENSIONS, {who, 0});
        session.PinRequired();
        session.WriteFile(CLOUD_FILE_EXTENSIONS, {who, 1});
        session.Unlock();
    }

    static void Sequences(Host& host, const std::string& service, unsigned char who) {
        Session session = host.Open(service);
        session.OpenContainer("signing");
        for (int i = 0; i < kRounds; ++i) LockedSequence(session, who);
    }

    // The log as "owner:step" for the writes, "record" and "sign-in"; every
    // sequence must appear as "w:0 record w:1", a sign-in only before one.
    void ExpectWholeSequences(const std::vector<unsigned char>& owners) {
        std::map<std::string, std::string> names{{token, "sign-in"},
                                                 {"GET " + api + "certificates/1", "record"}};
        std::map<std::string, std::string> bodies;
        for (unsigned char who : owners)
            for (int step : {0, 1}) {
                const unsigned char data[2] = {who, static_cast<unsigned char>(step)};
                unsigned char base64[8] = {};
                EVP_EncodeBlock(base64, data, 2);
                bodies["{\"Data\":\"" + std::string(reinterpret_cast<char*>(base64)) +
                       "\",\"Param\":\"container_extensions\"}\n"] =
                    std::to_string(who) + ":" + std::to_string(step);
            }
        std::vector<std::string> seen;
        for (const Json::Value& r : service.requestLog()) {
            const std::string line = r["method"].asString() + " " + r["target"].asString();
            seen.push_back(names.count(line) ? names[line] : bodies[r["body"].asString()]);
        }
        std::map<unsigned char, int> whole;
        for (size_t i = 0; i < seen.size(); ++i) {
            if (seen[i] == "sign-in" && i + 1 < seen.size() &&
                seen[i + 1].find(":0") != std::string::npos)
                continue;
            const std::string who = seen[i].substr(0, seen[i].find(':'));
            ASSERT_TRUE(i + 2 < seen.size() && seen[i] == who + ":0" && seen[i + 1] == "record" &&
                        seen[i + 2] == who + ":1")
                << "a sequence broken at request " << i << " (" << seen[i] << ")";
            ++whole[static_cast<unsigned char>(std::stoi(who))];
            i += 2;
        }
        for (unsigned char who : owners) EXPECT_EQ(whole[who], kRounds) << int(who);
    }
};

TEST_F(ReaderConcurrency, ThreadsWithTheirOwnContexts) {
    Host host(NIMBEX_MODULE_PATH, Options());
    std::vector<std::thread> threads;
    for (unsigned char who = 1; who <= 4; ++who)
        threads.emplace_back([&host, this, who] {
            try {
                Sequences(host, urls.name, who);
            } catch (const csphost::HostError& e) {
                ADD_FAILURE() << int(who) << ": " << e.what();
            }
        });
    for (std::thread& t : threads) t.join();
    ExpectWholeSequences({1, 2, 3, 4});
}

// The parent has used the module (a context with a connection to the
// service) before it forks two children; each child makes its own host and
// context, and the three processes run their sequences at the same time.
TEST_F(ReaderConcurrency, ForkedProcessesUseTheModuleAfresh) {
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(urls.name);
    session.OpenContainer("signing");
    LockedSequence(session, 9);
    std::vector<pid_t> children;
    for (unsigned char who = 10; who <= 11; ++who) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(60);
            try {
                Host own(NIMBEX_MODULE_PATH, Options());
                Sequences(own, urls.name, who);
            } catch (const csphost::HostError&) {
                _exit(2);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (int i = 1; i < kRounds; ++i) LockedSequence(session, 9);
    for (pid_t child : children) {
        const int status = nimbex_test::WaitExit(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ExpectWholeSequences({9, 10, 11});
}

}  // namespace
