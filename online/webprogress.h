// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A whole-file download shown in the progress dialog: title, fraction, bytes done of the
// bytes expected, and the cancel flag the transfer polls.

#include <functional>
#include <memory>
#include <string>

#include "core/uiservices.h"

class CWebServer_NB;

// The progress of a web transfer; the bytes and the cancel flag are those of every
// long operation.
class CWebProgressDialogData : public CProgressDialogData {
public:
    using CProgressDialogData::CProgressDialogData;
};

// Downloads a whole file with the progress dialog: the dialog's cancel cancels the
// transfer. `server` must outlive the transfer. `done` receives the success flag (the
// server's ErrorText() tells why it failed). An empty title shows "Downloading <file>".
// Returns the progress data, which the caller may also watch.
std::shared_ptr<CWebProgressDialogData> GetFileProgressDlg(const NV_HWND& parent, CWebServer_NB* server,
                                                           const std::string& remotePath,
                                                           const std::string& localPath, const std::string& title,
                                                           std::function<void(bool)> done);
