#pragma once

// How the running tool is known to the system and to a second instance: the named mutex that marks it,
// and the window class and title by which a second start finds its main window. The pattern window
// registers the same class, with an empty title.

constexpr wchar_t kInstanceMutex[] = L"A751E4CE-5AB2-4987-AFEE-1D6AFFBF164D";
constexpr wchar_t kMainWindowClass[] = L"VELTRA_SEAM_MAINFRAM";
constexpr wchar_t kMainWindowTitle[] = L"Veltra-Seam V1.0";
