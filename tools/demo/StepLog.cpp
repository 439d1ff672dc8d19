#include "StepLog.h"

#include <cstdio>
#include <exception>

#include "base/ErrorCodes.h"
#include "base/KelException.h"

namespace {

std::string Hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", code);
    return text;
}

}  // namespace

void StepLog::Line(const std::string& what, const std::string& answer) {
    std::printf("  %s -> %s\n", what.c_str(), answer.c_str());
    std::fflush(stdout);
}

void StepLog::Heading(const std::string& text) {
    std::printf("\n  [%s]\n", text.c_str());
    std::fflush(stdout);
}

void StepLog::Fail(const std::string& what, const std::string& reason) {
    ++failures_;
    Line(what, "FAILED: " + reason);
}

bool StepLog::Expect(const std::string& what, const Step& step) {
    try {
        Line(what, step());
        return true;
    } catch (const KelException& e) {
        Fail(what, std::string(e.what()) + " (" + Hex(e.code()) + ")");
    } catch (const std::exception& e) {
        Fail(what, e.what());
    }
    return false;
}

bool StepLog::NotBuiltYet(const std::string& what, const Step& step) {
    try {
        Line(what, step());
        return true;
    } catch (const KelException& e) {
        if (e.code() == codes::kNotSupported) {
            Line(what, "not supported yet (" + Hex(e.code()) + ")");
            return true;
        }
        Fail(what, std::string(e.what()) + " (" + Hex(e.code()) + ")");
    } catch (const std::exception& e) {
        Fail(what, e.what());
    }
    return false;
}
