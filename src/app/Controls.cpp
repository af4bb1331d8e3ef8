#include "app/Controls.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

#include "app/AppFonts.h"

namespace app {

TabPages::TabPages(QWidget* parent)
    : QWidget(parent)
    , m_bar(new QTabBar(this))
{
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    setFocusProxy(m_bar);
    setFocusPolicy(m_bar->focusPolicy());
    connect(m_bar, &QTabBar::currentChanged, this, &TabPages::ShowCurrentPage);
}

QWidget* TabPages::AddPage(const QString& caption)
{
    auto* page = new QWidget(this);
    page->setGeometry(rect());
    m_pages.push_back(page);
    m_bar->addTab(caption);
    m_bar->resize(m_bar->sizeHint());
    // The page lies over the tab strip; the strip must stay clickable.
    m_bar->raise();
    ShowCurrentPage();
    return page;
}

int TabPages::CurrentIndex() const
{
    return m_bar->currentIndex();
}

void TabPages::SetCurrentIndex(int index)
{
    m_bar->setCurrentIndex(index);
    ShowCurrentPage();
}

void TabPages::ShowCurrentPage()
{
    const int current = m_bar->currentIndex();
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        m_pages[i]->setVisible(static_cast<int>(i) == current);
    }
}

void TabPages::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.shape = m_bar->shape();
    option.tabBarSize = m_bar->size();
    option.tabBarRect = m_bar->geometry();
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    option.rect = rect().adjusted(0, m_bar->height() - overlap, 0, 0);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}

void TabPages::resizeEvent(QResizeEvent*)
{
    for (QWidget* page : m_pages) {
        page->setGeometry(rect());
    }
}

TextProgressBar::TextProgressBar(QWidget* parent)
    : QProgressBar(parent)
{
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
    setFont(ProgressTextFont());
    QPalette black = palette();
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::HighlightedText, QPalette::ButtonText}) {
        black.setColor(role, Qt::black);
    }
    setPalette(black);
}

void TextProgressBar::SetText(const QString& text)
{
    if (text != m_text) {
        m_text = text;
        update();
    }
}

int DebugCheckBox::Value() const
{
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void DebugCheckBox::SetValue(int value)
{
    setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void DebugCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

bool PacsKeyFilter::ProducesCharacter(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false;
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    default:
        break;
    }
    // Control with a letter makes a control character (paste, cut, undo), even where the platform
    // reports no text for it.
    const auto modifiers = event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (modifiers == Qt::ControlModifier && event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z) {
        return true;
    }
    return !event.text().isEmpty() && modifiers != Qt::AltModifier;
}

bool PacsKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        return ProducesCharacter(*static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod:
        // Composed characters (dead keys, input methods) are typed characters too.
        return !static_cast<QInputMethodEvent*>(event)->commitString().isEmpty();
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace app
