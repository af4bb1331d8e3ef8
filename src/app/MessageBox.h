#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace app {

// Every box the window shows goes through here: a modal box with an OK button, a stop, warning or
// information icon, and the caption "Zet-Pelta" unless one is given; or a question with Ja, Nein and
// Abbrechen.
class MessageBox
{
public:
    enum class Icon { Stop, Information, Warning, Question };
    enum class Reply { Ok, Yes, No, Cancel };

    struct Request
    {
        Icon icon;
        QString text;
        QString caption;
    };

    static void Show(QWidget* parent, Icon icon, const QString& text, const QString& caption = {});
    // Yes, No or Cancel (also when the box is closed).
    static Reply Ask(QWidget* parent, const QString& text, const QString& caption = {});

    // For tests: while set, Show and Ask hand their request to the answerer and return its reply at
    // once, without a box, so no test waits on a modal loop. An empty function restores real boxes.
    static void SetAnswerer(std::function<Reply(const Request&)> answerer);
};

} // namespace app
