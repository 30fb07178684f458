#pragma once
// What the tray says: its balloon notices and the installer's boxes, all
// titled with the product's name. Words it shares with the capture window come from the
// window's table.
#include "product_identity.h"
#include "ui/capture_window_texts.h"

namespace snaplark {

// Hotkey capture.
inline constexpr wchar_t NoCameraNotice[] = L"No camera open. Open the app and select a device first.";
inline constexpr wchar_t CaptureFailedNotice[] = L"Capture failed. Camera may be in use by another application.";
inline constexpr wchar_t CapturedNotice[] = L"Captured to clipboard.";

// The global hotkey's registration and the return to the tray.
inline constexpr wchar_t HotkeyRegisteredNotice[] = L"Hotkey registered: %ls  (press it anywhere to capture)";
inline constexpr wchar_t HotkeyFailedNotice[] =
    L"Could not register hotkey (error %lu). Another app may be using that key. Open the app and pick a different one.";
inline constexpr wchar_t NoHotkeyNotice[] = L"No capture hotkey set. Open the app and click Change to set one.";
inline constexpr wchar_t StillRunningNotice[] = L"Still running in the tray. Press %ls anywhere to capture.";
inline constexpr wchar_t StillRunningNoKeyNotice[] =
    L"Still running in the tray. Open the app to set a capture hotkey.";

// The TWAIN source installer.
inline constexpr wchar_t AlreadyInstalledBox[] =
    L"" SNAPLARK_PRODUCT
    " is already installed as a TWAIN source.\n\n"
    L"Scanning applications (Photoshop, etc.) can already use your webcam as a scanner.";
inline constexpr wchar_t SourceMissingBox[] =
    L"The TWAIN source is not installed.\n\n"
    L"Please run " SNAPLARK_PRODUCT
    "Setup.exe (the installer) to install it automatically, or place " SNAPLARK_DATA_SOURCE_FILE
    " in the "
    L"same folder as this program and try again.";
inline constexpr wchar_t UnsafeFolderBox[] =
    L"The TWAIN source cannot be installed from this folder.\n\n"
    L"Move " SNAPLARK_PRODUCT " to a folder whose path has no percent sign and try again.";
inline constexpr wchar_t LongFolderBox[] =
    L"The TWAIN source cannot be installed from this folder.\n\n"
    L"Move " SNAPLARK_PRODUCT " to a folder with a shorter path and try again.";
inline constexpr wchar_t InstallQuestionBox[] =
    L"Install " SNAPLARK_PRODUCT
    " as a TWAIN source?\n\n"
    L"This lets scanning applications (Photoshop, document scanners, etc.) use your webcam as a scanner input.\n\n"
    L"Administrator rights are required.";
inline constexpr wchar_t InstalledBox[] =
    L"TWAIN source installed successfully!\n\n"
    L"Restart your scanning application and select \"" SNAPLARK_PRODUCT "\" as the source.";
inline constexpr wchar_t InstallFailedBox[] =
    L"Installation may have failed.\nPlease check that you approved the administrator prompt.";

}  // namespace snaplark
