#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace app {

// Every box the window shows goes through here: a modal box with an OK button, a stop or an
// information icon, and the caption "Zet-Pelta" unless one is given.
class MessageBox
{
public:
    enum class Icon { Stop, Information };

    struct Request
    {
        Icon icon;
        QString text;
        QString caption;
    };

    static void Show(QWidget* parent, Icon icon, const QString& text, const QString& caption = {});

    // For tests: while set, Show hands its request to the answerer and returns at once, without a
    // box, so no test waits on a modal loop. An empty function restores real boxes.
    static void SetAnswerer(std::function<void(const Request&)> answerer);
};

} // namespace app
