#pragma once
#include <string>
#include <utility>
#include <vector>

namespace authapp {

// A form of a page: its id, action and inputs in document order.
struct HtmlForm {
    std::string id;
    std::string action;
    std::vector<std::pair<std::string, std::string>> hidden;  // name, value
    std::vector<std::string> fields;                          // names of the other inputs

    bool hasField(const std::string& name) const;
    std::string hiddenValue(const std::string& name) const;
};

// Finds the form with that id in a page. False when there is none.
bool findForm(const std::string& page, const std::string& id, HtmlForm& out);

}  // namespace authapp
