#include "VintrelleNativeNamePrompt.h"

#include "VintrelleNamePanel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include <algorithm>
#include <utility>

VintrelleNativeNamePrompt::VintrelleNativeNamePrompt()
    : m_panel(std::make_unique<VintrelleNamePanel>())
{
    connect(m_panel.get(), &VintrelleNamePanel::saveRequested, this, &VintrelleNativeNamePrompt::save);
    connect(m_panel.get(), &VintrelleNamePanel::cancelRequested, this, &VintrelleNativeNamePrompt::cancel);
    connect(m_panel.get(), &VintrelleNamePanel::moved, this, [this] {
        if (onMoved)
            onMoved(m_panel.get());
    });
}

VintrelleNativeNamePrompt::~VintrelleNativeNamePrompt() = default;

QWidget *VintrelleNativeNamePrompt::window() const
{
    return m_panel.get();
}

QLineEdit *VintrelleNativeNamePrompt::field() const
{
    return m_panel->field();
}

void VintrelleNativeNamePrompt::openWithTitle(const QString &title, const std::optional<QString> &name,
                                              const QPoint &topLeft, Completion completion)
{
    m_completion = std::move(completion);
    m_panel->setWindowTitle(title);
    m_panel->field()->setText(name.value_or(QString()));
    placeAtTopLeft(topLeft);
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_panel->field()->setFocus(Qt::OtherFocusReason);
    m_panel->field()->selectAll();
}

void VintrelleNativeNamePrompt::save()
{
    const QString name = m_panel->field()->text().trimmed();
    if (name.isEmpty()) {
        QApplication::beep();
        emit blankNameRefused();
        return;
    }
    finish(name);
}

void VintrelleNativeNamePrompt::cancel()
{
    finish(std::nullopt);
}

// The completion is taken before it runs, so one that reopens the prompt keeps its new completion.
void VintrelleNativeNamePrompt::finish(const std::optional<QString> &name)
{
    Completion completion = std::exchange(m_completion, nullptr);
    m_panel->hide();
    if (completion)
        completion(name);
}

// Fits the window into the visible area of the screen under the corner (one pixel below it, so
// a corner on a screen's top edge belongs to that screen).
void VintrelleNativeNamePrompt::placeAtTopLeft(const QPoint &topLeft)
{
    QScreen *screen = QGuiApplication::screenAt(topLeft + QPoint(0, 1));
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen) {
        m_panel->move(topLeft);
        return;
    }
    const QRect visible = screen->availableGeometry();
    const QSize size = m_panel->size();
    const int left = std::max(std::min(topLeft.x(), visible.x() + visible.width() - size.width()), visible.x());
    const int top = std::min(std::max(topLeft.y(), visible.y()), visible.y() + visible.height() - size.height());
    m_panel->move(left, top);
}
