#pragma once
#include <functional>
#include <string>

// Prints the walk-through one step a line, "  <what was asked> -> <what came
// back>", and counts the steps that should have worked and did not.
class StepLog {
  public:
    typedef std::function<std::string()> Step;

    // A line with no call behind it (a setting, a remark).
    void Line(const std::string& what, const std::string& answer);
    // A heading for the steps of one service.
    void Heading(const std::string& text);
    // A step that must work: its answer, or "FAILED: <message>" and a count.
    bool Expect(const std::string& what, const Step& step);
    // A call the module may not perform yet: its answer when it does,
    // "not supported yet (0x80090029)" when the module says so; any other
    // failure counts as one.
    bool NotBuiltYet(const std::string& what, const Step& step);
    // Records a failure found without running a step.
    void Fail(const std::string& what, const std::string& reason);

    unsigned failures() const { return failures_; }

  private:
    unsigned failures_ = 0;
};
