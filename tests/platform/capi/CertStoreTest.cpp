// Certificate stores: open flags, persistence and order, lookup, add
// dispositions, deletion, reference counts and concurrent writers.
#include <capi/wincrypt.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TempEnv.h"
#include "TestCertificates.h"

using nimbex_test::KeyKind;
using nimbex_test::MakeCertificate;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr DWORD kUser = CERT_SYSTEM_STORE_CURRENT_USER;
constexpr DWORD kMachine = CERT_SYSTEM_STORE_LOCAL_MACHINE;

HCERTSTORE Open(DWORD flags) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, L"My");
}

// count EC certificates with the same subject and consecutive serials.
std::vector<Bytes> EcCertificates(int count, const std::string& subject, uint64_t firstSerial) {
    std::vector<Bytes> certs;
    for (int i = 0; i < count; ++i)
        certs.push_back(MakeCertificate(KeyKind::Ec, subject, firstSerial + i));
    return certs;
}

PCCERT_CONTEXT Create(const Bytes& der) {
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()));
}

bool Add(HCERTSTORE store, const Bytes& der, DWORD disposition = CERT_STORE_ADD_REPLACE_EXISTING) {
    PCCERT_CONTEXT c = Create(der);
    if (!c) return false;
    BOOL ok = CertAddCertificateContextToStore(store, c, disposition, nullptr);
    CertFreeCertificateContext(c);
    return ok != FALSE;
}

std::vector<Bytes> Enumerate(HCERTSTORE store) {
    std::vector<Bytes> out;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store, c)) != nullptr)
        out.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
    EXPECT_EQ(CRYPT_E_NOT_FOUND, GetLastError());
    return out;
}

PCCERT_CONTEXT FindByHash(HCERTSTORE store, Bytes hash, PCCERT_CONTEXT previous = nullptr) {
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    return CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                      CERT_FIND_SHA1_HASH, &blob, previous);
}

void SetFriendlyName(PCCERT_CONTEXT c, const std::string& text) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(text.size()),
                         reinterpret_cast<BYTE*>(const_cast<char*>(text.data()))};
    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
}

std::string FriendlyName(PCCERT_CONTEXT c) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(c, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size))
        return "<none>";
    std::string text(size, '\0');
    EXPECT_TRUE(
        CertGetCertificateContextProperty(c, CERT_FRIENDLY_NAME_PROP_ID, text.data(), &size));
    return text;
}

}  // namespace

TEST(CertStore, PersistsInInsertionOrderPerScope) {
    nimbex_test::TempEnv env;
    // Opening an existing store finds nothing before the first write.
    EXPECT_EQ(nullptr, Open(kUser | CERT_STORE_OPEN_EXISTING_FLAG));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    std::vector<Bytes> certs = {MakeCertificate(KeyKind::Rsa, "Alice", 7),
                                MakeCertificate(KeyKind::Ec, "c1", 99),
                                MakeCertificate(KeyKind::Rsa, "c2", 98)};
    HCERTSTORE user = Open(kUser);
    for (const Bytes& c : certs) ASSERT_TRUE(Add(user, c));
    CertCloseStore(user, 0);
    HCERTSTORE machine = Open(kMachine);
    ASSERT_TRUE(Add(machine, certs[2]));
    CertCloseStore(machine, 0);

    // The store name is not case-sensitive.
    user =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, kUser | CERT_STORE_OPEN_EXISTING_FLAG, L"MY");
    ASSERT_NE(nullptr, user);
    EXPECT_EQ(certs, Enumerate(user));
    machine = Open(kMachine | CERT_STORE_OPEN_EXISTING_FLAG);
    EXPECT_EQ(std::vector<Bytes>{certs[2]}, Enumerate(machine));
    CertCloseStore(machine, 0);

    CertCloseStore(user, 0);
}

TEST(CertStore, ChangesDuringAWalk) {
    nimbex_test::TempEnv env;
    const std::vector<Bytes> certs = EcCertificates(40, "w", 5000);
    HCERTSTORE store = Open(kUser);
    for (const Bytes& c : certs) ASSERT_TRUE(Add(store, c));
    // Deleting, changing and adding during a walk: the walk sees the change
    // and the addition comes last.
    Bytes late = MakeCertificate(KeyKind::Ec, "late", 9999);
    std::vector<Bytes> seen;
    std::vector<std::string> names;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
        Bytes der(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
        if (seen.size() == 10) {
            PCCERT_CONTEXT later = FindByHash(store, nimbex_test::Sha1(certs[20]));
            SetFriendlyName(later, "changed");
            EXPECT_EQ(nullptr, FindByHash(store, nimbex_test::Sha1(certs[20]), later));  // frees it
            ASSERT_TRUE(Add(store, late));
        }
        if (der == certs[1] || der == certs[2]) {
            EXPECT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(c)));
        }
        seen.push_back(der);
        names.push_back(FriendlyName(c));
    }
    ASSERT_EQ(41u, seen.size());
    EXPECT_EQ(late, seen.back());
    EXPECT_EQ("changed", names[20]);
    EXPECT_EQ("<none>", names[19]);
    CertCloseStore(store, 0);

    store = Open(kUser | CERT_STORE_OPEN_EXISTING_FLAG);
    std::vector<Bytes> kept = Enumerate(store);
    ASSERT_EQ(39u, kept.size());
    EXPECT_EQ(certs[3], kept[1]);
    // Replacing keeps the place in order; a deleted certificate added again goes to the end.
    ASSERT_TRUE(Add(store, certs[3], CERT_STORE_ADD_REPLACE_EXISTING));
    EXPECT_EQ(certs[3], Enumerate(store)[1]);
    ASSERT_TRUE(Add(store, certs[1]));
    EXPECT_EQ(certs[1], Enumerate(store).back());
    CertCloseStore(store, 0);
}

TEST(CertStore, ReferenceCountsKeepContextsAndStoresAlive) {
    nimbex_test::TempEnv env;
    Bytes a = MakeCertificate(KeyKind::Rsa, "refs", 3);
    PCCERT_CONTEXT c = Create(a);
    PCCERT_CONTEXT d = CertDuplicateCertificateContext(c);
    EXPECT_TRUE(CertFreeCertificateContext(c));
    EXPECT_EQ(a, Bytes(d->pbCertEncoded, d->pbCertEncoded + d->cbCertEncoded));
    HCERTSTORE store = Open(kUser);
    PCCERT_CONTEXT stored = nullptr;
    ASSERT_TRUE(
        CertAddCertificateContextToStore(store, d, CERT_STORE_ADD_REPLACE_EXISTING, &stored));
    EXPECT_TRUE(CertFreeCertificateContext(d));
    // The store's context outlives the handle the caller closed.
    EXPECT_TRUE(CertCloseStore(store, 0));
    SetFriendlyName(stored, "after close");
    EXPECT_TRUE(CertDeleteCertificateFromStore(stored));
    store = Open(kUser);
    EXPECT_TRUE(Enumerate(store).empty());
    CertCloseStore(store, 0);
}

TEST(CertStore, ConcurrentProcessesLoseNothing) {
    nimbex_test::TempEnv env;
    constexpr int kPerChild = 60;
    std::vector<Bytes> certs[2];
    for (int child = 0; child < 2; ++child)
        certs[child] = EcCertificates(kPerChild, "p" + std::to_string(child), child * 1000 + 1);
    pid_t pids[2];
    for (int child = 0; child < 2; ++child) {
        pids[child] = fork();
        ASSERT_GE(pids[child], 0);
        if (pids[child] == 0) {
            int failures = 0;
            for (const Bytes& der : certs[child]) {
                // One open per certificate: the worst case for contention.
                HCERTSTORE store = Open(kUser);
                PCCERT_CONTEXT c = Create(der);
                if (!store || !c ||
                    !CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_NEW, nullptr))
                    ++failures;
                CRYPT_DATA_BLOB blob{1, const_cast<BYTE*>(der.data())};
                PCCERT_CONTEXT found = store ? FindByHash(store, nimbex_test::Sha1(der)) : nullptr;
                if (!found || !CertSetCertificateContextProperty(found, 11, 0, &blob)) ++failures;
                CertFreeCertificateContext(found);
                CertFreeCertificateContext(c);
                CertCloseStore(store, 0);
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HCERTSTORE store = Open(kUser | CERT_STORE_OPEN_EXISTING_FLAG);
    ASSERT_NE(nullptr, store);
    std::vector<Bytes> all = Enumerate(store);
    std::set<Bytes> expected(certs[0].begin(), certs[0].end());
    expected.insert(certs[1].begin(), certs[1].end());
    EXPECT_EQ(2u * kPerChild, all.size());
    EXPECT_EQ(expected, std::set<Bytes>(all.begin(), all.end()));
    // Each process's own certificates are in its order.
    std::vector<Bytes> firstChild;
    std::copy_if(all.begin(), all.end(), std::back_inserter(firstChild), [&](const Bytes& b) {
        return std::find(certs[0].begin(), certs[0].end(), b) != certs[0].end();
    });
    EXPECT_EQ(certs[0], firstChild);
    PCCERT_CONTEXT c = nullptr;
    int withProperty = 0;
    while ((c = CertEnumCertificatesInStore(store, c)) != nullptr)
        if (FriendlyName(c).size() == 1) ++withProperty;
    EXPECT_EQ(2 * kPerChild, withProperty);
    CertCloseStore(store, 0);
}

TEST(CertStore, SurvivesAWriterKilledMidway) {
    nimbex_test::TempEnv env;
    const std::vector<Bytes> certs = EcCertificates(400, "k", 7000);
    HCERTSTORE created = Open(kUser);
    CertCloseStore(created, 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        HCERTSTORE store = Open(kUser);
        for (const Bytes& c : certs) Add(store, c, CERT_STORE_ADD_NEW);
        _exit(0);
    }
    // Kill the writer once it is well under way.
    for (int tries = 0; tries < 2000; ++tries) {
        HCERTSTORE store = Open(kUser | CERT_STORE_OPEN_EXISTING_FLAG);
        size_t n = store ? Enumerate(store).size() : 0;
        CertCloseStore(store, 0);
        if (n >= 20) break;
        usleep(1000);
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    HCERTSTORE store = Open(kUser | CERT_STORE_OPEN_EXISTING_FLAG);
    ASSERT_NE(nullptr, store);
    std::vector<Bytes> kept = Enumerate(store);
    ASSERT_GE(kept.size(), 20u);
    // What is there is a prefix of what was written, each certificate whole.
    EXPECT_EQ(std::vector<Bytes>(certs.begin(), certs.begin() + kept.size()), kept);
    // And the store takes writes again.
    EXPECT_TRUE(Add(store, MakeCertificate(KeyKind::Rsa, "after", 1)));
    CertCloseStore(store, 0);
}

TEST(CertStore, AnotherUsersMachineStoreCanBeWalked) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
    nimbex_test::TempEnv env;
    Bytes a = MakeCertificate(KeyKind::Ec, "machine", 1);
    HCERTSTORE store = Open(kMachine);
    ASSERT_TRUE(Add(store, a));
    CertCloseStore(store, 0);
    ASSERT_EQ(0, chmod(env.root().c_str(), 0755));
    ASSERT_EQ(0, chmod(env.machineDir().c_str(), 0755));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        HCERTSTORE s = Open(kMachine);  // falls back to a read-only handle
        if (!s) _exit(11);
        PCCERT_CONTEXT c = CertEnumCertificatesInStore(s, nullptr);
        if (!c || c->cbCertEncoded != a.size()) _exit(12);
        CertFreeCertificateContext(c);
        if (Add(s, MakeCertificate(KeyKind::Ec, "other", 2)) ||
            GetLastError() != ERROR_ACCESS_DENIED)
            _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(CertStore, ThreadsShareHandlesAndContexts) {
    nimbex_test::TempEnv env;
    constexpr int kThreads = 4, kEach = 25;
    std::vector<std::vector<Bytes>> certs;
    for (int t = 0; t < kThreads; ++t) certs.push_back(EcCertificates(kEach, "t", 20000 + t * 100));
    HCERTSTORE shared = Open(kUser);
    ASSERT_NE(nullptr, shared);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads write through their own handle, half through the shared one.
            HCERTSTORE own = t % 2 ? Open(kUser) : shared;
            for (const Bytes& der : certs[t]) {
                if (!Add(own, der)) ++failures;
                // Walk the shared handle while others walk and write it too.
                PCCERT_CONTEXT c = CertEnumCertificatesInStore(shared, nullptr);
                if (c == nullptr) ++failures;
                while (c != nullptr) c = CertEnumCertificatesInStore(shared, c);
            }
            if (own != shared) CertCloseStore(own, 0);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    std::vector<Bytes> all = Enumerate(shared);
    EXPECT_EQ(static_cast<size_t>(kThreads * kEach), all.size());
    EXPECT_EQ(all.size(), std::set<Bytes>(all.begin(), all.end()).size());
    CertCloseStore(shared, 0);
}
