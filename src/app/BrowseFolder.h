#pragma once

#include <functional>

#include <QString>

namespace app {

// Shows the platform's folder dialog with the given title, modal to the active window, and returns the
// chosen folder's full path as the dialog reports it; the empty text when the operator cancels.
QString BrowseFolder(const QString& title);

// For tests: while set, BrowseFolder returns what the answerer gives for the title, without a dialog
// (the empty text stands for a cancelled dialog). An empty function restores the dialog.
void SetBrowseFolderAnswerer(std::function<QString(const QString& title)> answerer);

} // namespace app
