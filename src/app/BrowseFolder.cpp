#include "app/BrowseFolder.h"

#include <QApplication>
#include <QFileDialog>

namespace app {

namespace {

std::function<QString(const QString&)>& Answerer()
{
    static std::function<QString(const QString&)> answerer;
    return answerer;
}

} // namespace

QString BrowseFolder(const QString& title)
{
    if (Answerer()) {
        return Answerer()(title);
    }
    // No start folder: the dialog opens where the platform's dialog opens by default.
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), title, QString(), QFileDialog::ShowDirsOnly);
}

void SetBrowseFolderAnswerer(std::function<QString(const QString& title)> answerer)
{
    Answerer() = std::move(answerer);
}

} // namespace app
