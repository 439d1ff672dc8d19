// nimbex sign, nimbex pin verify | change, nimbex key generate: through the
// reader table, with the CSP host playing the CSP.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>

#include "CmsSigner.h"
#include "Commands.h"
#include "Failure.h"
#include "Host.h"
#include "LinkedStore.h"
#include "ProgressBar.h"

namespace nimbex_cli {

namespace {

const char kSignUsage[] =
    "usage: nimbex sign FILE --service NAME [--container NAME] [--cms [--pem]]\n"
    "                   [--hash sha256|sha384|sha512|sha1|streebog256|streebog512]\n"
    "                   [--out PATH] [PIN] [--quiet]\n"
    "\n"
    "Signs FILE with the key of a linked certificate of the service (the only\n"
    "one, or --container). Without --cms the output is the raw signature of the\n"
    "file's hash (FILE.sig); with --cms a detached CMS SignedData, DER or PEM\n"
    "(FILE.p7s). --out - writes to standard output. A progress bar shows on a\n"
    "terminal for files of 1 MiB and more, unless --quiet. The hash follows the\n"
    "key unless --hash names one: GOST R 34.11-2012 (streebog256, streebog512)\n"
    "for a GOST R 34.10-2012 key of 256 or 512 bits, SHA-256 for the others.\n"
    "\n"
    "PIN: --pin-env VAR or --pin-fd N; otherwise it is asked on the terminal\n"
    "without echo. It is never taken from the command line.\n";

const char kPinUsage[] =
    "usage: nimbex pin verify --service NAME [--container NAME] [PIN]\n"
    "       nimbex pin change --service NAME [--container NAME] [PIN]\n"
    "                         [--new-pin-env VAR | --new-pin-fd N]\n"
    "\n"
    "verify checks the key's PIN on the service (a wrong PIN reports the tries\n"
    "left); change sets a new one (asked twice on the terminal unless given\n"
    "through --new-pin-env or --new-pin-fd).\n"
    "PIN: --pin-env VAR or --pin-fd N, else the terminal without echo.\n";

const char kKeyUsage[] =
    "usage: nimbex key generate --service NAME --container NAME\n"
    "                           [--rsa BITS | --param-set OID [--alg-id N]] [--exchange]\n"
    "                           [PIN]\n"
    "\n"
    "Creates a key on the service for signing (or key exchange with --exchange)\n"
    "and links its certificate in the user's store \"My\" under the container\n"
    "NAME: an EC key, P-256 unless --param-set names another curve, or an RSA\n"
    "key of BITS bits. --alg-id names the algorithm of a parameter set that is\n"
    "not an EC curve (default 0x2203, ECDSA), a GOST one for instance. The new\n"
    "key's PIN comes from the PIN source.\n"
    "PIN: --pin-env VAR or --pin-fd N, else the terminal without echo.\n";

constexpr uint64_t kProgressThreshold = 1u << 20;
constexpr size_t kChunk = 1u << 20;
constexpr uint32_t kAtKeyExchange = 1, kAtSignature = 2;
constexpr uint32_t kCalgEcdsa = 0x2203, kCalgRsaSign = 0x2400, kCalgRsaKeyx = 0xA400;

csphost::PinSource PinFrom(const CommandLine& line, const char* env, const char* fd,
                           const char* prompt) {
    if (line.Has(env)) return csphost::PinSource::Environment(line.Value(env));
    if (line.Has(fd)) return csphost::PinSource::Descriptor(static_cast<int>(line.Number(fd, 0)));
    return csphost::PinSource::Terminal(prompt);
}

// The CSP host over the module with the PIN source of the command line.
std::unique_ptr<csphost::Host> OpenHost(const Invocation& inv, const CommandLine& line) {
    KeepModuleLoaded(inv.modulePath);
    csphost::HostOptions options;
    options.pin = PinFrom(line, "pin-env", "pin-fd", "PIN: ");
    return std::unique_ptr<csphost::Host>(new csphost::Host(inv.modulePath, options));
}

// The linked certificate to use: --container, else the service's only one.
LinkedCertificate ChooseCertificate(const CommandLine& line, const std::string& service) {
    std::vector<LinkedCertificate> found;
    for (LinkedCertificate& c : ReadLinkedCertificates(false))
        if (c.service == service &&
            (!line.Has("container") || c.container == line.Value("container")))
            found.push_back(std::move(c));
    if (found.empty())
        throw CallFailure("no linked certificate of " + service +
                              (line.Has("container") ? " in " + line.Value("container") : "") +
                              " (see nimbex cert install)",
                          2);
    if (found.size() > 1) {
        std::string names;
        for (const LinkedCertificate& c : found) names += " " + c.container;
        throw UsageError(service + " has several linked certificates; choose one with " +
                         "--container:" + names);
    }
    return found[0];
}

constexpr uint32_t kProviderGost256 = 80, kProviderGost512 = 81;

// The hash named by --hash, else the one that goes with the certificate's key
// (its provider type in the link).
uint32_t HashAlgorithm(const CommandLine& line, const LinkedCertificate& cert) {
    if (!line.Has("hash")) {
        if (cert.providerType == kProviderGost256) return 0x8021;
        if (cert.providerType == kProviderGost512) return 0x8022;
        return 0x800C;
    }
    const std::string name = line.Value("hash");
    if (name == "sha256") return 0x800C;
    if (name == "sha384") return 0x800D;
    if (name == "sha512") return 0x800E;
    if (name == "sha1") return 0x8004;
    if (name == "streebog256") return 0x8021;
    if (name == "streebog512") return 0x8022;
    throw UsageError("unknown hash '" + name +
                     "' (sha256, sha384, sha512, sha1, streebog256, streebog512)");
}

// Reads the file in chunks, handing each to `chunk`, with the progress bar.
void ReadFile(const std::string& path, bool quiet,
              const std::function<void(const unsigned char*, size_t)>& chunk) {
    std::ifstream in(path, std::ios::binary);
    struct stat st;
    if (!in || stat(path.c_str(), &st) != 0) throw CallFailure("sign: cannot read " + path, 2);
    const uint64_t total = static_cast<uint64_t>(st.st_size);
    ProgressBar bar("signing " + path, total,
                    !quiet && total >= kProgressThreshold && ProgressBar::OnTerminal());
    std::vector<unsigned char> buffer(kChunk);
    uint64_t done = 0;
    while (in) {
        in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(kChunk));
        const size_t n = static_cast<size_t>(in.gcount());
        if (n == 0) break;
        chunk(buffer.data(), n);
        done += n;
        bar.Update(done);
    }
    bar.Finish();
}

void WriteOutput(const std::string& path, const std::vector<unsigned char>& bytes) {
    if (path == "-") {
        std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw CallFailure("sign: cannot write " + path, 0x80090020);
}

}  // namespace

int SignCommand(Invocation& inv) {
    const CommandLine line(inv.words, {"service", "container", "hash", "out", "pin-env", "pin-fd"},
                           {"help", "json", "cms", "pem", "quiet"});
    if (line.Has("help")) {
        std::cout << kSignUsage;
        return 0;
    }
    line.AtMost(1);
    const std::string file = line.Positional(0, "file to sign");
    const std::string service = line.Required("service");
    const bool cms = line.Has("cms"), quiet = inv.quiet || line.Has("quiet");
    if (line.Has("pem") && !cms) throw UsageError("--pem goes with --cms");
    const std::string out = line.Value("out", file + (cms ? ".p7s" : ".sig"));
    const LinkedCertificate cert = ChooseCertificate(line, service);
    const uint32_t alg = HashAlgorithm(line, cert);

    std::unique_ptr<csphost::Host> host = OpenHost(inv, line);
    csphost::Session session = host->Open(service);
    session.Lock();
    session.OpenContainer(cert.container);
    std::vector<unsigned char> signature;
    if (cms) {
        std::vector<unsigned char> document;
        ReadFile(file, quiet, [&](const unsigned char* data, size_t n) {
            document.insert(document.end(), data, data + n);
        });
        signature = csphost::CmsSigner(session, cert.der, alg)
                        .Sign(document, line.Has("pem") ? csphost::CmsFormat::kPem
                                                        : csphost::CmsFormat::kDer);
    } else {
        const uint32_t handle = session.CreateHash(alg);
        ReadFile(file, quiet,
                 [&](const unsigned char* data, size_t n) { session.HashData(handle, data, n); });
        signature = session.SignHash(session.HashValue(handle), alg, handle);
    }
    session.CloseContainer();
    session.Unlock();
    WriteOutput(out, signature);
    if (inv.json || line.Has("json")) {
        Json::Value j;
        j["file"] = file;
        j["output"] = out;
        j["container"] = cert.link;
        j["format"] = cms ? (line.Has("pem") ? "cms-pem" : "cms-der") : "raw";
        j["bytes"] = static_cast<Json::UInt64>(signature.size());
        PrintJson(j);
    } else if (!quiet && out != "-") {
        std::fprintf(stderr, "signed %s with %s: %s\n", file.c_str(), cert.link.c_str(),
                     out.c_str());
    }
    return 0;
}

int PinCommand(Invocation& inv) {
    const CommandLine line(
        inv.words, {"service", "container", "pin-env", "pin-fd", "new-pin-env", "new-pin-fd"},
        {"help", "json"});
    if (line.Has("help")) {
        std::cout << kPinUsage;
        return 0;
    }
    line.AtMost(1);
    const std::string sub = line.Positional(0, "pin subcommand (verify or change)");
    if (sub != "verify" && sub != "change")
        throw UsageError("unknown pin subcommand '" + sub + "'");
    const std::string service = line.Required("service");
    const LinkedCertificate cert = ChooseCertificate(line, service);
    std::unique_ptr<csphost::Host> host = OpenHost(inv, line);
    csphost::Session session = host->Open(service);
    session.Lock();
    session.OpenContainer(cert.container);
    if (sub == "verify") {
        std::string pin;
        if (!host->options().pin.Read(pin)) throw UsageError("no PIN could be read");
        uint32_t triesLeft = 0;
        const uint32_t result = session.CheckPin(pin, &triesLeft);
        csphost::Wipe(pin);
        if (result == 0x8010006B)
            throw CallFailure("pin verify", result, std::to_string(triesLeft) + " tries left");
        Check(result, "pin verify");
    } else {
        std::string fresh;
        const csphost::PinSource source = PinFrom(line, "new-pin-env", "new-pin-fd", "New PIN: ");
        if (!source.Read(fresh)) throw UsageError("no new PIN could be read");
        if (!line.Has("new-pin-env") && !line.Has("new-pin-fd")) {
            std::string again;
            const bool read = csphost::PinSource::Terminal("Repeat new PIN: ").Read(again);
            const bool same = read && again == fresh;
            csphost::Wipe(again);
            if (!same) {
                csphost::Wipe(fresh);
                throw UsageError("the new PINs differ");
            }
        }
        try {
            session.ChangePin(fresh);
        } catch (...) {
            csphost::Wipe(fresh);
            throw;
        }
        csphost::Wipe(fresh);
    }
    session.CloseContainer();
    session.Unlock();
    if (inv.json || line.Has("json"))
        PrintJson(Json::Value(Json::objectValue));
    else if (!inv.quiet)
        std::printf(sub == "verify" ? "PIN accepted\n" : "PIN changed\n");
    return 0;
}

int KeyCommand(Invocation& inv) {
    const CommandLine line(
        inv.words, {"service", "container", "rsa", "param-set", "alg-id", "pin-env", "pin-fd"},
        {"help", "json", "exchange"});
    if (line.Has("help")) {
        std::cout << kKeyUsage;
        return 0;
    }
    line.AtMost(1);
    if (line.Positional(0, "key subcommand (generate)") != "generate")
        throw UsageError("unknown key subcommand '" + line.positional()[0] + "'");
    const std::string service = line.Required("service");
    const std::string container = line.Required("container");
    if (line.Has("rsa") && (line.Has("param-set") || line.Has("alg-id")))
        throw UsageError("--rsa excludes --param-set and --alg-id");
    const bool exchange = line.Has("exchange");
    std::unique_ptr<csphost::Host> host = OpenHost(inv, line);
    csphost::Session session = host->Open(service);
    session.Lock();
    session.OpenContainer(container, true);
    if (line.Has("rsa"))
        session.GenerateRsaKey(static_cast<uint32_t>(line.Number("rsa", 0)),
                               exchange ? kAtKeyExchange : kAtSignature,
                               exchange ? kCalgRsaKeyx : kCalgRsaSign);
    else
        session.GenerateKey(exchange ? kAtKeyExchange : kAtSignature,
                            static_cast<uint32_t>(line.Number("alg-id", kCalgEcdsa)),
                            line.Value("param-set", "1.2.840.10045.3.1.7"));
    session.CloseContainer();
    session.Unlock();
    const std::string link = "CLOUD\\" + service + "\\" + container;
    if (inv.json || line.Has("json")) {
        Json::Value j;
        j["container"] = link;
        PrintJson(j);
    } else if (!inv.quiet) {
        std::printf("generated a key in %s\n", link.c_str());
    }
    return 0;
}

}  // namespace nimbex_cli
