#include "VintrelleQuickMenuPresenter.h"

#include "VintrelleCenteredAddRow.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleNativeRowAtPoint.h"
#include "VintrelleQuickMenu.h"
#include "VintrelleWindowHelpers.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidgetAction>

namespace {

const char *const kindProperty = "vintrelleRowKind";
const char *const categoryProperty = "vintrelleCategoryID";
const char *const depthProperty = "vintrelleDepth";

const QColor background(0x1c, 0x1d, 0x21);
const QColor foreground(0xec, 0xeb, 0xe4);

// A dark, quiet menu: rounded rows, a muted green highlight that echoes the connected colour.
QString styleSheet(int radius)
{
    return QStringLiteral(
               "QMenu { background-color: #1c1d21; color: #ecebe4; border: 1px solid #383a41;"
               " border-radius: %1px; padding: 6px 0px; }"
               "QMenu::item { background: transparent; padding: 6px 28px 6px 14px; margin: 0px 6px;"
               " border-radius: 6px; }"
               "QMenu::item:selected { background-color: #2e5a43; color: #ffffff; }"
               "QMenu::item:disabled { color: #6c6f78; }"
               "QMenu::separator { height: 1px; background: #34363d; margin: 6px 14px; }"
               "QPushButton { color: #ecebe4; background: transparent; border: none; }"
               "QPushButton:hover { background-color: #2e5a43; border-radius: 6px; }")
        .arg(radius);
}

QString escaped(QString title)
{
    return title.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

VintrelleQuickMenuPresenter::VintrelleQuickMenuPresenter(QObject *parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

VintrelleQuickMenuPresenter::~VintrelleQuickMenuPresenter()
{
    delete m_menu;
    qDeleteAll(m_submenus);
    delete m_rowMenu;
}

std::optional<VintrelleQuickMenuRow::Kind> VintrelleQuickMenuPresenter::rowKindOf(const QAction *action)
{
    const QVariant kind = action ? action->property(kindProperty) : QVariant();
    if (!kind.isValid())
        return std::nullopt;
    return VintrelleQuickMenuRow::Kind(kind.toInt());
}

QMenu *VintrelleQuickMenuPresenter::createMenu(bool dressed)
{
    auto *menu = new QMenu;
    menu->setTitle(QStringLiteral("Vintrelle"));
    if (dressed)
        dress(menu);
    return menu;
}

// The look is applied to a sub-menu only when it first opens: a level of the largest library
// holds hundreds of categories, and styling their sub-menus up front is most of the cost.
void VintrelleQuickMenuPresenter::dress(QMenu *menu)
{
    menu->setWindowTitle(QStringLiteral("Vintrelle"));
    menu->setSeparatorsCollapsible(false);
    QFont font = QApplication::font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    menu->setFont(font);
    const bool rounded = VintrelleCompositorActive();
    if (rounded) {
        menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
        menu->setAttribute(Qt::WA_TranslucentBackground);
    }
    menu->setStyleSheet(styleSheet(rounded ? 10 : 0));
}

void VintrelleQuickMenuPresenter::fill(QMenu *menu, const VintrelleQuickMenuRows &rows)
{
    using Kind = VintrelleQuickMenuRow::Kind;
    const int width = VintrelleMenuHeader::preferredWidth();
    for (const VintrelleQuickMenuRow &row : rows) {
        QAction *action = nullptr;
        switch (row.kind) {
        case Kind::Header: {
            auto *header = new VintrelleMenuHeader;
            QPalette palette = header->palette();
            palette.setColor(QPalette::Window, background);
            palette.setColor(QPalette::WindowText, foreground);
            header->setPalette(palette);
            header->setFixedHeight(VintrelleMenuHeader::headerHeight);
            header->setConnected(m_connected);
            header->setDarkTheme(m_darkTheme);
            header->setOwnerMenu(menu);
            header->onMoved = [this](const QPoint &topLeft) {
                if (onMoved)
                    onMoved(topLeft);
            };
            auto *widgetAction = new QWidgetAction(menu);
            widgetAction->setDefaultWidget(header);
            m_header = header;
            menu->setMinimumWidth(std::max(menu->minimumWidth(), width));
            action = widgetAction;
            break;
        }
        case Kind::AddCategory: {
            auto *addRow = new VintrelleCenteredAddRow;
            addRow->setFixedHeight(24);
            addRow->setMinimumWidth(width);
            addRow->button()->setAccessibleName(QStringLiteral("Add category"));
            auto *widgetAction = new QWidgetAction(menu);
            widgetAction->setDefaultWidget(addRow);
            addRow->setMenuItem(widgetAction);
            connect(widgetAction, &QAction::triggered, this, [this] {
                if (onAddCategory)
                    onAddCategory();
            });
            action = widgetAction;
            break;
        }
        case Kind::Category: {
            QMenu *submenu = createMenu(false);
            m_submenus << submenu;
            submenu->setTitle(escaped(row.title));
            submenu->setProperty(categoryProperty, row.representedID);
            submenu->setProperty(depthProperty, row.submenuDepth);
            connect(submenu, &QMenu::aboutToShow, this, [this, submenu] { fillSubmenu(submenu); });
            action = submenu->menuAction();
            break;
        }
        case Kind::Separator:
            action = new QAction(menu);
            action->setSeparator(true);
            break;
        default:
            action = new QAction(escaped(row.title), menu);
            break;
        }
        if (row.kind == Kind::Header || row.kind == Kind::AddCategory)
            action->setText(row.title);
        action->setProperty(kindProperty, int(row.kind));
        // A fixed row whose window is not part of this build is shown disabled, never a silent no-op.
        const bool handled = (row.kind != Kind::Settings || onSettings) && (row.kind != Kind::Edit || onEdit)
                             && (row.kind != Kind::AddCategory || onAddCategory);
        action->setEnabled(row.enabled && handled);
        if (!row.representedID.isEmpty())
            action->setData(row.representedID);
        if (row.kind == Kind::Plugin) {
            connect(action, &QAction::triggered, this, [this, id = row.representedID] {
                QTimer::singleShot(0, this, [this, id] {
                    if (onChoosePlugin)
                        onChoosePlugin(id);
                });
            });
        } else if (row.kind == Kind::Settings) {
            connect(action, &QAction::triggered, this, [this] {
                if (onSettings)
                    onSettings();
            });
        } else if (row.kind == Kind::Edit) {
            connect(action, &QAction::triggered, this, [this] {
                if (onEdit)
                    onEdit();
            });
        }
        menu->addAction(action);
    }
}

void VintrelleQuickMenuPresenter::fillSubmenu(QMenu *submenu)
{
    if (!submenu->actions().isEmpty())
        return;
    dress(submenu);
    fill(submenu, VintrelleQuickMenuSubmenu(m_library, submenu->property(categoryProperty).toString(),
                                            submenu->property(depthProperty).toInt()));
}

bool VintrelleQuickMenuPresenter::showAtPoint(const QJsonArray &categories, const QPoint &globalTopLeft)
{
    if (m_tracking)
        return false;
    m_library = VintrelleQuickMenuLibrary(categories);
    m_menu = createMenu(true);
    fill(m_menu, VintrelleQuickMenu(m_library));
    connect(m_menu, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, this, [this] { finishIfClosed(); }); });
    m_tracking = true;
    m_menu->popup(globalTopLeft);
    QTimer::singleShot(frameKnownAfter, m_menu, [this] {
        if (const auto topLeft = openMenuTopLeft(); topLeft && onShown)
            onShown(*topLeft);
    });
    return true;
}

QMenu *VintrelleQuickMenuPresenter::menu() const
{
    return m_menu && m_menu->isVisible() ? m_menu.data() : nullptr;
}

QMenu *VintrelleQuickMenuPresenter::rowMenu() const
{
    return m_rowMenu && m_rowMenu->isVisible() ? m_rowMenu.data() : nullptr;
}

std::optional<QPoint> VintrelleQuickMenuPresenter::openMenuTopLeft() const
{
    if (QMenu *open = menu())
        return open->pos();
    return std::nullopt;
}

void VintrelleQuickMenuPresenter::setConnected(bool connected)
{
    m_connected = connected;
    if (m_header)
        m_header->setConnected(connected);
}

void VintrelleQuickMenuPresenter::setDarkTheme(bool dark)
{
    m_darkTheme = dark;
    if (m_header)
        m_header->setDarkTheme(dark);
}

bool VintrelleQuickMenuPresenter::belongsToMainMenu(const QObject *object) const
{
    return object && (object == m_menu || m_submenus.contains(const_cast<QObject *>(object)));
}

void VintrelleQuickMenuPresenter::disposeMainMenu()
{
    if (m_menu)
        m_menu->deleteLater();
    for (QObject *submenu : std::as_const(m_submenus))
        submenu->deleteLater();
    m_submenus.clear();
    m_header = nullptr;
}

// Closes the open popups of this presenter innermost first, then the menus themselves.
void VintrelleQuickMenuPresenter::hideMenus()
{
    while (QWidget *popup = QApplication::activePopupWidget()) {
        if (!belongsToMainMenu(popup) && popup != m_rowMenu)
            break;
        popup->close();
    }
    if (m_menu)
        m_menu->hide();
    if (m_rowMenu)
        m_rowMenu->hide();
}

void VintrelleQuickMenuPresenter::close()
{
    m_rowMenuPending = false;
    hideMenus();
    QTimer::singleShot(0, this, [this] { finishIfClosed(); });
}

void VintrelleQuickMenuPresenter::finishIfClosed()
{
    if (!m_tracking || m_rowMenuPending || menu() || rowMenu())
        return;
    m_tracking = false;
    disposeMainMenu();
    if (m_rowMenu)
        m_rowMenu->deleteLater();
    if (onClosed)
        onClosed();
}

bool VintrelleQuickMenuPresenter::handleContextAtPoint(const QPoint &globalPoint)
{
    if (!m_tracking || !menu())
        return false;
    QAction *row = VintrelleNativeRowAtPoint(m_menu, globalPoint);
    const QString id = row ? row->data().toString() : QString();
    const std::optional<QString> name = id.isEmpty() ? std::nullopt : m_library.displayNameOf(id);
    if (!name)
        return false;
    m_swallowRightRelease = true;
    m_swallowSince.start();
    m_rowMenuPending = true;
    hideMenus();
    QTimer::singleShot(0, this, [this, id, name = *name, globalPoint] { showRowMenu(id, name, globalPoint); });
    return true;
}

void VintrelleQuickMenuPresenter::showRowMenu(const QString &id, const QString &name, const QPoint &point)
{
    if (!m_rowMenuPending)
        return; // closed in the meantime
    m_rowMenuPending = false;
    disposeMainMenu();
    m_rowMenu = createMenu(true);
    for (const VintrelleQuickMenuRow &row : VintrelleRenameDeleteMenu(id, name)) {
        QAction *action = m_rowMenu->addAction(row.title);
        action->setEnabled(bool(onRowCommand)); // no edit entry point yet: shown, never a silent no-op
        action->setProperty(kindProperty, int(row.kind));
        connect(action, &QAction::triggered, this, [this, command = row.command, point] {
            if (onRowCommand)
                onRowCommand(command, point);
        });
    }
    connect(m_rowMenu, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, this, [this] { finishIfClosed(); }); });
    m_rowMenu->popup(point);
}

bool VintrelleQuickMenuPresenter::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease)
        return false;
    auto *mouse = static_cast<QMouseEvent *>(event);

    // The release of a handled right-click is not reliably delivered, so the wish to swallow it
    // ends at the next press or after a short while, never waiting for it.
    if (type == QEvent::MouseButtonRelease) {
        if (mouse->button() != Qt::RightButton || !m_swallowRightRelease)
            return false;
        m_swallowRightRelease = false;
        return m_swallowSince.elapsed() <= swallowReleaseFor;
    }
    m_swallowRightRelease = false;
    if (mouse->button() != Qt::RightButton || !m_tracking || !qobject_cast<QMenu *>(watched)
        || !belongsToMainMenu(watched))
        return false;
    return handleContextAtPoint(mouse->globalPosition().toPoint());
}
