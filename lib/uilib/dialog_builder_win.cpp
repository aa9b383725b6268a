#include "lib/uilib/uilib.h"

#include "lib/baselib/raii_win.h"
#include "lib/uilib/xml_reader.h"

namespace {

bool ReadWholeFile(const std::wstring& path, std::string& out) {
    const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) == FALSE || size.QuadPart >= (16 << 20)) {
        return false;
    }
    out.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return out.empty() ||
           (::ReadFile(file.get(), &out[0], static_cast<DWORD>(out.size()), &got, nullptr) != FALSE &&
            got == out.size());
}

CControlUI* BuiltinControl(const std::wstring& tag) {
    if (tag == L"VerticalLayout") {
        return new CVerticalLayoutUI;
    }
    if (tag == L"HorizontalLayout") {
        return new CHorizontalLayoutUI;
    }
    if (tag == L"Control") {
        return new CControlUI;
    }
    if (tag == L"Label" || tag == L"Text") {
        return new CLabelUI;
    }
    if (tag == L"Button") {
        return new CButtonUI;
    }
    if (tag == L"Option") {
        return new COptionUI;
    }
    if (tag == L"CheckBox") {
        return new CCheckBoxUI;
    }
    if (tag == L"Edit") {
        return new CEditUI;
    }
    return nullptr;
}

class Builder {
public:
    Builder(IDialogBuilderCallback* callback, const std::wstring& file, std::wstring& error)
        : callback_(callback), file_(file), error_(error) {}

    CControlUI* Build(const XmlElement& e) {
        const std::wstring tag = WideFromUtf8(e.name);
        CControlUI* control = BuiltinControl(tag);
        if (control == nullptr && callback_ != nullptr) {
            control = callback_->CreateLayoutControl(tag.c_str());
        }
        if (control == nullptr) {
            // A tag nobody can build is left out, as the layouts of richer skins expect.
            return nullptr;
        }
        for (const auto& a : e.attributes) {
            if (!control->SetAttribute(WideFromUtf8(a.first), WideFromUtf8(a.second))) {
                error_ = file_ + L": line " + std::to_wstring(e.line) + L": bad value for \"" +
                         WideFromUtf8(a.first) + L"\"";
                delete control;
                return nullptr;
            }
        }
        auto* container = dynamic_cast<CContainerUI*>(control);
        for (const XmlElement& child : e.children) {
            if (container == nullptr) {
                break;
            }
            CControlUI* c = Build(child);
            if (!error_.empty()) {
                delete control;
                return nullptr;
            }
            container->Add(c);
        }
        return control;
    }

private:
    IDialogBuilderCallback* callback_;
    const std::wstring& file_;
    std::wstring& error_;
};

} // namespace

CControlUI* CDialogBuilder::Create(LPCWSTR layout, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                   std::wstring& error) {
    error.clear();
    const std::wstring path = CPaintManagerUI::GetResourcePath() + layout;
    std::string text;
    if (!ReadWholeFile(path, text)) {
        error = L"cannot read the layout file " + path;
        return nullptr;
    }
    XmlElement root;
    XmlError xml_error;
    if (!ParseXml(text, root, xml_error)) {
        error = path + L": line " + std::to_wstring(xml_error.line) + L": " + WideFromUtf8(xml_error.message);
        return nullptr;
    }
    if (root.name != "Window" || root.children.size() != 1) {
        error = path + L": the root must be one <Window> holding one control";
        return nullptr;
    }
    if (manager != nullptr) {
        if (const std::string* size = root.Attribute("size")) {
            if (const auto v = ParseSizeValue(*size)) {
                manager->SetInitSize(v->first, v->second);
            }
        }
        if (const std::string* caption = root.Attribute("caption")) {
            if (const auto v = ParseRectValue(*caption)) {
                manager->SetCaptionRect(*v);
            }
        }
        if (const std::string* min = root.Attribute("mininfo")) {
            if (const auto v = ParseSizeValue(*min)) {
                manager->SetMinInfo(v->first, v->second);
            }
        }
        if (const std::string* bk = root.Attribute("bkcolor")) {
            if (const auto v = ParseColorValue(*bk)) {
                manager->SetBkColor(*v);
            }
        }
    }
    CControlUI* control = Builder(callback, path, error).Build(root.children[0]);
    if (control == nullptr && error.empty()) {
        error = path + L": the root control cannot be built";
    }
    return control;
}
