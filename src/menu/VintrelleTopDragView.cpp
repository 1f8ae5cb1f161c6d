#include "VintrelleTopDragView.h"

#include "VintrelleWindowHelpers.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QWindow>

namespace {

// Views a click must reach: controls, text that can be edited or selected, tab and scroll views.
bool takesClicks(const QWidget *widget)
{
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextEditable);
    return qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const QLineEdit *>(widget)
           || qobject_cast<const QAbstractSpinBox *>(widget) || qobject_cast<const QComboBox *>(widget)
           || qobject_cast<const QAbstractSlider *>(widget) || qobject_cast<const QTabWidget *>(widget)
           || qobject_cast<const QTabBar *>(widget) || qobject_cast<const QAbstractScrollArea *>(widget);
}

bool fullyTransparent(const QWidget *widget)
{
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(widget->graphicsEffect());
    return effect && effect->isEnabled() && effect->opacity() == 0.0;
}

} // namespace

VintrelleTopDragView::VintrelleTopDragView(QWidget *window, int height)
    : QWidget(window)
    , m_height(height)
{
    setObjectName(QStringLiteral("vintrelle-top-drag"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    qApp->installEventFilter(this);
    follow();
}

void VintrelleTopDragView::follow()
{
    QWidget *container = parentWidget();
    setGeometry(0, 0, container->width(), std::min(m_height, container->height()));
    raise();
}

QWidget *VintrelleTopDragView::hitTest(const QPoint &point) const
{
    if (!rect().contains(point))
        return nullptr;
    QWidget *container = parentWidget();
    const QPoint inContainer = mapToParent(point);
    const QObjectList &siblings = container->children();
    for (auto it = siblings.crbegin(); it != siblings.crend(); ++it) {
        auto *sibling = qobject_cast<QWidget *>(*it);
        if (!sibling || sibling == this || sibling->isHidden() || sibling->isWindow() || fullyTransparent(sibling))
            continue;
        if (!sibling->geometry().contains(inContainer))
            continue;
        QWidget *hit = sibling->childAt(sibling->mapFromParent(inContainer));
        for (QWidget *view = hit ? hit : sibling; view && view != container; view = view->parentWidget())
            if (takesClicks(view))
                return nullptr;
    }
    return const_cast<VintrelleTopDragView *>(this);
}

bool VintrelleTopDragView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        follow();
    if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton || widget->window() != window())
        return false;
    const QPoint point = mapFromGlobal(mouse->globalPosition().toPoint());
    if (!hitTest(point) || !window()->windowHandle())
        return false;
    return window()->windowHandle()->startSystemMove();
}

VintrelleTopDragView *VintrelleInstallTopDragging(QWidget *window, int height)
{
    VintrelleConfigureOverlayWindow(window);
    return new VintrelleTopDragView(window, height);
}
