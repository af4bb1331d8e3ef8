#pragma once

#include <vector>

#include <QCheckBox>
#include <QProgressBar>
#include <QString>
#include <QWidget>

class QKeyEvent;
class QTabBar;

namespace app {

// A tab control whose pages cover the whole control, tab strip included, so that controls on a page
// are placed relative to the control, as the window places them. A page in the back is
// hidden with everything on it.
class TabPages : public QWidget
{
    Q_OBJECT

public:
    explicit TabPages(QWidget* parent = nullptr);

    QWidget* AddPage(const QString& caption);
    QWidget* Page(int index) const { return m_pages.at(static_cast<std::size_t>(index)); }
    int CurrentIndex() const;
    void SetCurrentIndex(int index);
    QTabBar* Bar() const { return m_bar; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowCurrentPage();

    QTabBar* m_bar;
    std::vector<QWidget*> m_pages;
};

// A progress bar that draws a text of its own on the bar, taken literally ("%" included).
class TextProgressBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit TextProgressBar(QWidget* parent = nullptr);

    QString text() const override { return m_text; }
    void SetText(const QString& text);

private:
    QString m_text;
};

// The debug switch. Its dimmed third state comes only from an edited settings file; a click always
// leads to on or off, as a two-state box does: on becomes off, off and the third state become on.
class DebugCheckBox : public QCheckBox
{
    Q_OBJECT

public:
    using QCheckBox::QCheckBox;

    // 0 off, 1 on, 2 the third state.
    int Value() const;
    void SetValue(int value);

protected:
    void nextCheckState() override;
};

// Keeps typed characters out of the PACS box, Backspace, Enter and pasting with the keyboard included,
// so its text changes only by choosing from the list or by Delete. Keys that produce no character
// (arrows, F4, Delete, Home, End, Tab) pass. Installed on the combo box and on its line edit.
class PacsKeyFilter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    static bool ProducesCharacter(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace app
