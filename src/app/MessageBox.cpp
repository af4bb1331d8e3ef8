#include "app/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace app {

namespace {

const QString DefaultCaption = QStringLiteral("Zet-Pelta");

std::function<MessageBox::Reply(const MessageBox::Request&)>& Answerer()
{
    static std::function<MessageBox::Reply(const MessageBox::Request&)> answerer;
    return answerer;
}

} // namespace

void MessageBox::Show(QWidget* parent, Icon icon, const QString& text, const QString& caption)
{
    const Request request {icon, text, caption.isEmpty() ? DefaultCaption : caption};
    if (Answerer()) {
        (void)Answerer()(request);
        return;
    }
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical
            : icon == Icon::Warning    ? QMessageBox::Warning
                                       : QMessageBox::Information,
        request.caption, request.text, QMessageBox::Ok, parent);
    // File names may reach a box; they are never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

MessageBox::Reply MessageBox::Ask(QWidget* parent, const QString& text, const QString& caption)
{
    const Request request {Icon::Question, text, caption.isEmpty() ? DefaultCaption : caption};
    if (Answerer()) {
        return Answerer()(request);
    }
    QMessageBox box(QMessageBox::Question, request.caption, request.text,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setTextFormat(Qt::PlainText);
    // The system's own words on the buttons, whatever language Qt would choose.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nein"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Reply::Yes;
    case QMessageBox::No:
        return Reply::No;
    default:
        return Reply::Cancel;
    }
}

void MessageBox::SetAnswerer(std::function<Reply(const Request&)> answerer)
{
    Answerer() = std::move(answerer);
}

} // namespace app
