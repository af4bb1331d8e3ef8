#include "app/MessageBox.h"

#include <QMessageBox>

namespace app {

namespace {

const QString DefaultCaption = QStringLiteral("Zet-Pelta");

std::function<void(const MessageBox::Request&)>& Answerer()
{
    static std::function<void(const MessageBox::Request&)> answerer;
    return answerer;
}

} // namespace

void MessageBox::Show(QWidget* parent, Icon icon, const QString& text, const QString& caption)
{
    const Request request {icon, text, caption.isEmpty() ? DefaultCaption : caption};
    if (Answerer()) {
        Answerer()(request);
        return;
    }
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::Information, request.caption,
        request.text, QMessageBox::Ok, parent);
    // File names may reach a box; they are never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MessageBox::SetAnswerer(std::function<void(const Request&)> answerer)
{
    Answerer() = std::move(answerer);
}

} // namespace app
