// The key-provider information record: owned form, serialised form and the
// caller's block layout.
#include <cstring>

#include "CertInternal.h"

namespace capi {

namespace {

constexpr uint32_t kFormatVersion = 1;
constexpr uint32_t kNoString = 0xFFFFFFFFu;
constexpr size_t kMaxChars = 1u << 20;

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutString(Bytes& out, bool present, const std::wstring& s) {
    if (!present) {
        PutU32(out, kNoString);
        return;
    }
    PutU32(out, static_cast<uint32_t>(s.size()));
    for (wchar_t c : s) PutU32(out, static_cast<uint32_t>(c));
}

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
    bool U32(uint32_t* v) {
        if (left_ < 4) return false;
        *v = static_cast<uint32_t>(p_[0]) | static_cast<uint32_t>(p_[1]) << 8 |
             static_cast<uint32_t>(p_[2]) << 16 | static_cast<uint32_t>(p_[3]) << 24;
        p_ += 4;
        left_ -= 4;
        return true;
    }
    bool Raw(size_t n, Bytes* out) {
        if (left_ < n) return false;
        out->assign(p_, p_ + n);
        p_ += n;
        left_ -= n;
        return true;
    }
    bool String(bool* present, std::wstring* s) {
        uint32_t n = 0;
        if (!U32(&n)) return false;
        if (n == kNoString) {
            *present = false;
            s->clear();
            return true;
        }
        if (n > kMaxChars || n > left_ / 4) return false;
        s->clear();
        s->reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t c = 0;
            U32(&c);
            if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
            s->push_back(static_cast<wchar_t>(c));
        }
        *present = true;
        return true;
    }
    bool AtEnd() const { return left_ == 0; }

  private:
    const uint8_t* p_;
    size_t left_;
};

size_t AlignUp(size_t n, size_t a) {
    return (n + a - 1) / a * a;
}

}  // namespace

KeyProvInfo KeyProvInfoFromStruct(const CRYPT_KEY_PROV_INFO& info) {
    KeyProvInfo out;
    out.hasContainer = info.pwszContainerName != nullptr;
    if (out.hasContainer) out.container = info.pwszContainerName;
    out.hasProvider = info.pwszProvName != nullptr;
    if (out.hasProvider) out.provider = info.pwszProvName;
    out.provType = info.dwProvType;
    out.flags = info.dwFlags;
    out.keySpec = info.dwKeySpec;
    if (info.rgProvParam) {
        for (DWORD i = 0; i < info.cProvParam; ++i) {
            const CRYPT_KEY_PROV_PARAM& p = info.rgProvParam[i];
            KeyProvParam param;
            param.id = p.dwParam;
            param.flags = p.dwFlags;
            if (p.pbData && p.cbData) param.data.assign(p.pbData, p.pbData + p.cbData);
            out.params.push_back(std::move(param));
        }
    }
    return out;
}

Bytes SerializeKeyProvInfo(const KeyProvInfo& info) {
    Bytes out;
    PutU32(out, kFormatVersion);
    PutString(out, info.hasContainer, info.container);
    PutString(out, info.hasProvider, info.provider);
    PutU32(out, info.provType);
    PutU32(out, info.flags);
    PutU32(out, info.keySpec);
    PutU32(out, static_cast<uint32_t>(info.params.size()));
    for (const KeyProvParam& p : info.params) {
        PutU32(out, p.id);
        PutU32(out, p.flags);
        PutU32(out, static_cast<uint32_t>(p.data.size()));
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    return out;
}

bool DeserializeKeyProvInfo(const uint8_t* data, size_t size, KeyProvInfo* out) {
    if (!data && size) return false;
    Reader r(data, size);
    KeyProvInfo info;
    uint32_t version = 0, count = 0;
    if (!r.U32(&version) || version != kFormatVersion) return false;
    if (!r.String(&info.hasContainer, &info.container)) return false;
    if (!r.String(&info.hasProvider, &info.provider)) return false;
    if (!r.U32(&info.provType) || !r.U32(&info.flags) || !r.U32(&info.keySpec)) return false;
    if (!r.U32(&count) || count > size / 12) return false;
    for (uint32_t i = 0; i < count; ++i) {
        KeyProvParam p;
        uint32_t length = 0;
        if (!r.U32(&p.id) || !r.U32(&p.flags) || !r.U32(&length)) return false;
        if (!r.Raw(length, &p.data)) return false;
        info.params.push_back(std::move(p));
    }
    if (!r.AtEnd()) return false;
    *out = std::move(info);
    return true;
}

// Layout: the record, the parameter array, the two names, the parameter data.
size_t KeyProvInfoBlockSize(const KeyProvInfo& info) {
    size_t size = sizeof(CRYPT_KEY_PROV_INFO);
    size = AlignUp(size, alignof(CRYPT_KEY_PROV_PARAM));
    size += info.params.size() * sizeof(CRYPT_KEY_PROV_PARAM);
    size = AlignUp(size, alignof(WCHAR));
    if (info.hasContainer) size += (info.container.size() + 1) * sizeof(WCHAR);
    if (info.hasProvider) size += (info.provider.size() + 1) * sizeof(WCHAR);
    for (const KeyProvParam& p : info.params) size += p.data.size();
    return size;
}

void WriteKeyProvInfoBlock(const KeyProvInfo& info, void* block) {
    uint8_t* base = static_cast<uint8_t*>(block);
    memset(base, 0, KeyProvInfoBlockSize(info));
    auto* record = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(base);
    size_t pos = AlignUp(sizeof(CRYPT_KEY_PROV_INFO), alignof(CRYPT_KEY_PROV_PARAM));
    auto* params = reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(base + pos);
    pos += info.params.size() * sizeof(CRYPT_KEY_PROV_PARAM);
    pos = AlignUp(pos, alignof(WCHAR));
    auto putString = [&](bool present, const std::wstring& s) -> LPWSTR {
        if (!present) return nullptr;
        auto* out = reinterpret_cast<WCHAR*>(base + pos);
        memcpy(out, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
        pos += (s.size() + 1) * sizeof(WCHAR);
        return out;
    };
    record->pwszContainerName = putString(info.hasContainer, info.container);
    record->pwszProvName = putString(info.hasProvider, info.provider);
    record->dwProvType = info.provType;
    record->dwFlags = info.flags;
    record->dwKeySpec = info.keySpec;
    record->cProvParam = static_cast<DWORD>(info.params.size());
    record->rgProvParam = info.params.empty() ? nullptr : params;
    for (size_t i = 0; i < info.params.size(); ++i) {
        const KeyProvParam& p = info.params[i];
        params[i].dwParam = p.id;
        params[i].dwFlags = p.flags;
        params[i].cbData = static_cast<DWORD>(p.data.size());
        params[i].pbData = p.data.empty() ? nullptr : base + pos;
        if (!p.data.empty()) memcpy(base + pos, p.data.data(), p.data.size());
        pos += p.data.size();
    }
}

Bytes SerializeProperties(const PropertyMap& props) {
    Bytes out;
    for (const auto& [id, value] : props) {
        PutU32(out, id);
        PutU32(out, static_cast<uint32_t>(value.size()));
        out.insert(out.end(), value.begin(), value.end());
    }
    return out;
}

bool DeserializeProperties(const uint8_t* data, size_t size, PropertyMap* out) {
    if (!data && size) return false;
    Reader r(data, size);
    PropertyMap props;
    while (!r.AtEnd()) {
        uint32_t id = 0, length = 0;
        Bytes value;
        if (!r.U32(&id) || !r.U32(&length) || !r.Raw(length, &value)) return false;
        props[id] = std::move(value);
    }
    *out = std::move(props);
    return true;
}

}  // namespace capi
