#pragma once

#include "lib/uilib/uilib.h"

#include <string>
#include <vector>

// Writes a layout under a fresh resource folder of its own and points the library at it.
class ScratchLayout {
public:
    explicit ScratchLayout(const std::string& utf8_xml, const std::wstring& file = L"layout.xml");
    ~ScratchLayout();
    const std::wstring& folder() const { return folder_; }

private:
    std::wstring folder_;
    std::wstring file_;
    std::wstring previous_;
};

// Runs the thread's queue until nothing is left, so posted notifications arrive.
void PumpMessages();

// Restores the resource path the test binary started with (its own folder).
void UseBinaryFolderAsResources();
