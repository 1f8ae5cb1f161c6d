#include "VintrelleWindowHelpers.h"

#include "VintrelleFrameAtTopLeft.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

// X11 headers last: they define None, Bool and Status.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

const char *const titleName = "vintrelle-centered-window-title";

// The title text, centred between 80-pixel margins and cut short at its end; purely visual.
class VintrelleCenteredTitle : public QWidget
{
public:
    explicit VintrelleCenteredTitle(QWidget *window) : QWidget(window)
    {
        setObjectName(QString::fromLatin1(titleName));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont titleFont = font();
        titleFont.setPixelSize(13);
        titleFont.setWeight(QFont::DemiBold);
        setFont(titleFont);
        window->installEventFilter(this);
        follow();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::WindowTitleChange)
            follow();
        return false;
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QColor colour = palette().color(QPalette::WindowText);
        colour.setAlphaF(0.55f);
        painter.setPen(colour);
        const QString text = fontMetrics().elidedText(parentWidget()->windowTitle(), Qt::ElideRight, width());
        painter.drawText(rect(), Qt::AlignCenter, text);
    }

private:
    void follow()
    {
        const int width = std::max(0, parentWidget()->width() - 160);
        setGeometry(80, 0, width, 28);
        raise();
        update();
    }
};

Display *x11Display()
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

// Adds hints to a window: on a mapped window the window manager must be asked; on one not yet
// mapped the properties are ours to write (Qt merges its own states into what it finds).
void addX11Hints(Display *display, Window window, bool mapped)
{
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom desktop = XInternAtom(display, "_NET_WM_DESKTOP", False);
    const Atom wanted[] = {XInternAtom(display, "_NET_WM_STATE_ABOVE", False),
                           XInternAtom(display, "_NET_WM_STATE_STICKY", False),
                           XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False),
                           XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False)};
    constexpr long allDesktops = 0xFFFFFFFF;
    const Window root = DefaultRootWindow(display);

    if (mapped) {
        auto send = [&](Atom type, long first, long second, long third) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = type;
            event.xclient.format = 32;
            event.xclient.data.l[0] = first;
            event.xclient.data.l[1] = second;
            event.xclient.data.l[2] = third;
            event.xclient.data.l[3] = 1; // from an application
            XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        };
        constexpr long add = 1;
        send(state, add, long(wanted[0]), long(wanted[1]));
        send(state, add, long(wanted[2]), long(wanted[3]));
        send(desktop, allDesktops, 1, 0);
    } else {
        QList<Atom> atoms;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(display, window, state, 0, 1024, False, XA_ATOM, &type, &format, &count, &remaining,
                               &data) == Success && data) {
            if (type == XA_ATOM && format == 32)
                for (unsigned long i = 0; i < count; ++i)
                    atoms << reinterpret_cast<Atom *>(data)[i];
            XFree(data);
        }
        for (Atom atom : wanted)
            if (!atoms.contains(atom))
                atoms << atom;
        XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(atoms.constData()), int(atoms.size()));
        const long everyDesktop = allDesktops;
        XChangeProperty(display, window, desktop, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(&everyDesktop), 1);
    }
    XFlush(display);
}

} // namespace

void VintrellePlaceWindowAtTopLeft(QWidget *window, const QPoint &topLeft)
{
    if (!window)
        return;
    const QList<QScreen *> screens = QGuiApplication::screens();
    QList<VintrelleScreenArea> areas;
    qsizetype primary = 0;
    for (QScreen *screen : screens) {
        if (screen == QGuiApplication::primaryScreen())
            primary = areas.size();
        areas << VintrelleScreenArea{screen->geometry(), screen->availableGeometry()};
    }
    const QSize size = window->isVisible() ? window->frameGeometry().size() : window->size();
    window->move(VintrelleWindowFrameForTopLeft(size, topLeft, areas, primary).topLeft());
}

QWidget *VintrelleCenterWindowTitle(QWidget *window)
{
    if (!window || !(window->windowFlags() & Qt::FramelessWindowHint))
        return nullptr;
    if (auto *existing = window->findChild<QWidget *>(QString::fromLatin1(titleName), Qt::FindDirectChildrenOnly))
        return existing;
    auto *title = new VintrelleCenteredTitle(window);
    title->show();
    return title;
}

namespace {

// The window manager forgets a window's states when it is hidden, so they go back in before
// every showing; a moment later they are also asked for, in case the manager was still
// forgetting the last hiding when they were written.
class OverlayHints : public QObject
{
public:
    static constexpr int askAgainAfter = 100; // milliseconds

    explicit OverlayHints(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QStringLiteral("vintrelle-overlay-hints"));
        window->installEventFilter(this);
    }

    void apply()
    {
        Display *display = x11Display();
        if (!display)
            return;
        // A change of flags replaces the platform window; QWidget::winId() can still name the old one.
        m_window->winId();
        m_window->windowHandle()->create();
        addX11Hints(display, Window(m_window->windowHandle()->winId()), m_window->isVisible());
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            apply();
            QTimer::singleShot(askAgainAfter, this, [this] {
                if (m_window->isVisible())
                    apply();
            });
        }
        return false;
    }

private:
    QWidget *m_window;
};

} // namespace

void VintrelleConfigureOverlayWindow(QWidget *window)
{
    if (!window)
        return;
    const bool visible = window->isVisible();
    const Qt::WindowFlags wanted = window->windowFlags() | Qt::Tool | Qt::WindowStaysOnTopHint;
    if (wanted != window->windowFlags())
        window->setWindowFlags(wanted); // hides a visible window
    auto *hints = window->findChild<OverlayHints *>(QStringLiteral("vintrelle-overlay-hints"), Qt::FindDirectChildrenOnly);
    if (!hints)
        hints = new OverlayHints(window);
    if (window->isVisible())
        hints->apply();
    else if (visible)
        window->show(); // the hints go in on the way
    VintrelleCenterWindowTitle(window);
}

bool VintrelleCompositorActive()
{
    Display *display = x11Display();
    if (!display)
        return QGuiApplication::platformName() != QLatin1String("offscreen");
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, selection.constData(), False)) != 0;
}

void VintrelleCutRoundedCorners(QWidget *window, qreal radius)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(window->rect()), radius, radius);
    window->setMask(QRegion(shape.toFillPolygon().toPolygon()));
}
