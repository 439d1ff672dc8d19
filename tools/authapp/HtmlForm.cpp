#include "HtmlForm.h"

#include <map>

namespace authapp {

namespace {

std::string unescape(const std::string& s) {
    static const std::pair<const char*, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        bool matched = false;
        if (s[i] == '&') {
            for (const auto& e : entities) {
                size_t n = std::char_traits<char>::length(e.first);
                if (s.compare(i, n, e.first) == 0) {
                    out += e.second;
                    i += n;
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) out += s[i++];
    }
    return out;
}

// The attributes of a tag that starts at pos ("<name ...>"); end receives the position after ">".
std::map<std::string, std::string> attributes(const std::string& page, size_t pos, size_t& end) {
    std::map<std::string, std::string> out;
    end = page.find('>', pos);
    if (end == std::string::npos) {
        end = page.size();
        return out;
    }
    std::string tag = page.substr(pos, end - pos);
    ++end;
    size_t i = tag.find(' ');
    while (i != std::string::npos && i < tag.size()) {
        while (i < tag.size() && tag[i] == ' ') ++i;
        size_t eq = tag.find('=', i);
        if (eq == std::string::npos || eq + 1 >= tag.size() || tag[eq + 1] != '"') break;
        size_t close = tag.find('"', eq + 2);
        if (close == std::string::npos) break;
        out[tag.substr(i, eq - i)] = unescape(tag.substr(eq + 2, close - eq - 2));
        i = close + 1;
    }
    return out;
}

}  // namespace

bool HtmlForm::hasField(const std::string& name) const {
    for (const auto& f : fields)
        if (f == name) return true;
    return false;
}

std::string HtmlForm::hiddenValue(const std::string& name) const {
    for (const auto& h : hidden)
        if (h.first == name) return h.second;
    return {};
}

bool findForm(const std::string& page, const std::string& id, HtmlForm& out) {
    size_t pos = 0;
    while ((pos = page.find("<form", pos)) != std::string::npos) {
        size_t end = 0;
        auto attrs = attributes(page, pos, end);
        size_t close = page.find("</form>", end);
        if (close == std::string::npos) close = page.size();
        if (attrs["id"] == id) {
            out = HtmlForm();
            out.id = id;
            out.action = attrs["action"];
            size_t i = end;
            while ((i = page.find("<input", i)) != std::string::npos && i < close) {
                size_t after = 0;
                auto in = attributes(page, i, after);
                if (in["type"] == "hidden")
                    out.hidden.push_back({in["name"], in["value"]});
                else
                    out.fields.push_back(in["name"]);
                i = after;
            }
            return true;
        }
        pos = end;
    }
    return false;
}

}  // namespace authapp
