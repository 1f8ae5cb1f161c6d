#include "VintrelleNativeSettings.h"

#include "VintrelleLibraryFile.h"
#include "VintrelleShortcut.h"
#include "VintrelleStarterLibrary.h"
#include "VintrelleTopDragView.h"
#include "VintrelleWindowHelpers.h"

#include <QAbstractButton>
#include <QActionEvent>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr qreal cornerRadius = 10;

const QColor panelColour(0x1c, 0x1c, 0x20, 245);
const QColor primaryText(0xe4, 0xe4, 0xe7);
const QColor secondaryText(0xa1, 0xa1, 0xaa);
const QColor separatorColour(255, 255, 255, 28);
const QColor accentColour(0x0a, 0x84, 0xff);

const char *const panelStyle = R"(
QLabel { color: #e4e4e7; }
QLabel#text { color: #a1a1aa; font-size: 12px; }
QLabel#rowTitle { font-size: 13px; }
QLabel#status { color: #a1a1aa; font-size: 11px; }
QPushButton { background: rgba(255, 255, 255, 0.08); color: #e4e4e7; border: 1px solid rgba(255, 255, 255, 0.07);
              border-radius: 6px; font-size: 12px; padding: 0 12px; min-height: 24px; max-height: 24px; }
QPushButton:hover:enabled { background: rgba(255, 255, 255, 0.14); }
QPushButton:pressed { background: rgba(255, 255, 255, 0.2); }
QPushButton:disabled { color: #5c5c64; }
QPushButton#destructive { background: #e0443a; color: #ffffff; border: none; }
QPushButton#destructive:hover:enabled { background: #ef5148; }
QPushButton#destructive:disabled { background: rgba(224, 68, 58, 0.35); color: rgba(255, 255, 255, 0.5); }
QPushButton#close { background: transparent; color: #8e8e96; border: none; border-radius: 8px; font-size: 14px;
                    padding: 0; min-height: 16px; max-height: 16px; }
QPushButton#close:hover { background: rgba(255, 255, 255, 0.12); color: #f4f4f5; }
QComboBox { background: rgba(255, 255, 255, 0.08); color: #e4e4e7; border: 1px solid rgba(255, 255, 255, 0.07);
            border-radius: 6px; font-size: 12px; padding: 0 8px; min-height: 24px; max-height: 24px; }
QComboBox:disabled { color: #5c5c64; }
QComboBox::drop-down { border: none; width: 20px; }
QComboBox QAbstractItemView { background: #26262b; color: #e4e4e7; border: 1px solid #3a3a41;
                              selection-background-color: #0a84ff; selection-color: #ffffff; outline: none; }
QToolButton { background: transparent; color: #a1a1aa; border: none; border-radius: 6px; font-size: 11px;
              padding: 3px 10px; }
QToolButton:hover { background: rgba(255, 255, 255, 0.06); }
QToolButton:checked { background: rgba(255, 255, 255, 0.1); color: #e4e4e7; }
)";

QPainterPath roundedPath(const QRectF &bounds, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(bounds, radius, radius);
    return path;
}

// ---- Toolbar icons, drawn so they need no icon theme ------------------------------------------

QIcon paneIcon(const QString &pane)
{
    constexpr int side = 22;
    QIcon icon;
    for (const auto &[mode, colour] : {std::pair{QIcon::Normal, secondaryText}, std::pair{QIcon::Selected, accentColour}}) {
        QPixmap pixmap(side * 2, side * 2);
        pixmap.setDevicePixelRatio(2);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        if (pane == VintrelleNativeSettings::connectionPane) {
            // A plug: two prongs, the body, and its cable curving away.
            painter.drawLine(QPointF(8, 2.5), QPointF(8, 6.5));
            painter.drawLine(QPointF(14, 2.5), QPointF(14, 6.5));
            painter.drawPath(roundedPath(QRectF(5, 6.5, 12, 7), 2));
            QPainterPath cable(QPointF(11, 13.5));
            cable.cubicTo(QPointF(11, 19), QPointF(5, 16), QPointF(5, 20.5));
            painter.drawPath(cable);
        } else if (pane == VintrelleNativeSettings::preferencesPane) {
            // A gear: eight teeth around a ring.
            const QPointF centre(11, 11);
            for (int tooth = 0; tooth < 8; ++tooth) {
                const double angle = tooth * M_PI / 4;
                const QPointF direction(std::cos(angle), std::sin(angle));
                painter.drawLine(centre + direction * 6.5, centre + direction * 9.2);
            }
            painter.drawEllipse(centre, 6.5, 6.5);
            painter.drawEllipse(centre, 2.6, 2.6);
        } else {
            // A stack of three cards.
            painter.drawPath(roundedPath(QRectF(3, 9, 16, 10), 2.5));
            painter.drawLine(QPointF(5, 6), QPointF(17, 6));
            painter.drawLine(QPointF(7, 3), QPointF(15, 3));
        }
        painter.end();
        icon.addPixmap(pixmap, mode, QIcon::Off);
        if (mode == QIcon::Selected)
            icon.addPixmap(pixmap, QIcon::Normal, QIcon::On);
    }
    return icon;
}

// ---- Layout building blocks --------------------------------------------------------------------

// A rounded box holding rows, with a separator line between two rows.
class SettingsGroup : public QWidget
{
public:
    explicit SettingsGroup(QWidget *parent) : QWidget(parent), m_rows(new QVBoxLayout(this))
    {
        m_rows->setContentsMargins(0, 0, 0, 0);
        m_rows->setSpacing(0);
    }

    void addRow(QWidget *row)
    {
        if (m_rows->count() > 0) {
            auto *line = new QWidget(this);
            line->setFixedHeight(1);
            line->setAttribute(Qt::WA_TransparentForMouseEvents);
            line->setObjectName(QStringLiteral("separator"));
            m_separators << line;
            auto *inset = new QHBoxLayout;
            inset->setContentsMargins(12, 0, 12, 0);
            inset->addWidget(line);
            m_rows->addLayout(inset);
        }
        m_rows->addWidget(row);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath box = roundedPath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8);
        painter.fillPath(box, QColor(255, 255, 255, 9));
        painter.setPen(QPen(separatorColour, 1));
        painter.drawPath(box);
        for (QWidget *line : std::as_const(m_separators))
            painter.fillRect(line->geometry(), separatorColour);
    }

private:
    QVBoxLayout *m_rows;
    QList<QWidget *> m_separators;
};

// An on/off switch: a pill with a knob that sits right when on.
class SettingsSwitch : public QAbstractButton
{
public:
    explicit SettingsSwitch(QWidget *parent) : QAbstractButton(parent)
    {
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setFixedSize(sizeHint());
    }

    QSize sizeHint() const override { return {38, 22}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isChecked() ? accentColour : QColor(255, 255, 255, 40));
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
        const qreal knob = track.height() - 4;
        const qreal left = isChecked() ? track.right() - 2 - knob : track.left() + 2;
        painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(200, 200, 200));
        painter.drawEllipse(QRectF(left, track.top() + 2, knob, knob));
    }
};

// A pop-up button with up and down chevrons at its right end, drawn here since the dark style
// sheet leaves the platform's arrow out.
class SettingsPopUp : public QComboBox
{
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QComboBox::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor colour = isEnabled() ? primaryText : QColor(0x5c, 0x5c, 0x64);
        painter.setPen(QPen(colour, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF centre(width() - 12.5, height() / 2.0);
        painter.drawPolyline(QPolygonF({centre + QPointF(-3, -1.5), centre + QPointF(0, -4.5), centre + QPointF(3, -1.5)}));
        painter.drawPolyline(QPolygonF({centre + QPointF(-3, 1.5), centre + QPointF(0, 4.5), centre + QPointF(3, 1.5)}));
    }
};

QLabel *wrappingLabel(const QString &text, const char *name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

// A row: its title on the left, the control on the right (at most 200 wide).
QWidget *settingsRow(const QString &title, QWidget *control, QWidget *parent)
{
    auto *row = new QWidget(parent);
    row->setMinimumHeight(44);
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(12, 10, 12, 10);
    line->setSpacing(12);
    line->addWidget(wrappingLabel(title, "rowTitle", row), 1, Qt::AlignVCenter);
    control->setParent(row);
    control->setMaximumWidth(200);
    control->setAccessibleName(title);
    line->addWidget(control, 0, Qt::AlignVCenter | Qt::AlignRight);
    return row;
}

QWidget *descriptionRow(const QString &text, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *inset = new QVBoxLayout(row);
    inset->setContentsMargins(12, 12, 12, 12);
    inset->addWidget(wrappingLabel(text, "text", row));
    return row;
}

// A pane: its elements stacked from the top, 20 from the sides and top.
QVBoxLayout *paneStack(QWidget *pane)
{
    auto *stack = new QVBoxLayout(pane);
    stack->setContentsMargins(20, 20, 20, 12);
    stack->setSpacing(12);
    stack->setAlignment(Qt::AlignTop);
    return stack;
}

bool truthy(const QJsonValue &value)
{
    return value.toBool() || value.toDouble() != 0;
}

// Dialogs of this window are sheets: modal to it alone and above other programs' windows.
void makeSheet(QDialog *dialog)
{
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    VintrelleConfigureOverlayWindow(dialog);
}

QFileDialog *libraryFileDialog(QWidget *parent, const QString &title, QFileDialog::AcceptMode mode)
{
    auto *dialog = new QFileDialog(parent, title, QDir::homePath());
    // Qt's own dialog, so it can be a sheet on this window everywhere.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    dialog->setNameFilter(QStringLiteral("JSON (*.json)"));
    dialog->setDefaultSuffix(QStringLiteral("json"));
    dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    makeSheet(dialog);
    return dialog;
}

} // namespace

VintrelleNativeSettings::VintrelleNativeSettings()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_tabs(new QStackedWidget(this))
    , m_status(new QLabel(this))
    , m_close(new QPushButton(QStringLiteral("×"), this))
{
    setWindowTitle(connectionPane);
    setAttribute(Qt::WA_TranslucentBackground);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, primaryText);
    colours.setColor(QPalette::Text, primaryText);
    colours.setColor(QPalette::ButtonText, primaryText);
    colours.setColor(QPalette::Base, QColor(0x26, 0x26, 0x2b));
    colours.setColor(QPalette::Button, QColor(0x2c, 0x2c, 0x31));
    colours.setColor(QPalette::Window, panelColour);
    colours.setColor(QPalette::Highlight, accentColour);
    setPalette(colours);
    setFixedSize(panelWidth, chromeHeight + contentHeight);

    m_close->setObjectName("close");
    m_close->setGeometry(panelWidth - 26, 6, 16, 16);
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setToolTip(tr("Close"));
    m_close->setAccessibleName(tr("Close"));
    connect(m_close, &QPushButton::clicked, this, &VintrelleNativeSettings::cancelOperation);

    // The toolbar: the three panes between flexible spaces.
    auto *toolbar = new QWidget(this);
    toolbar->setObjectName("toolbar");
    toolbar->setGeometry(0, titleHeight, panelWidth, toolbarHeight);
    auto *items = new QHBoxLayout(toolbar);
    items->setContentsMargins(0, 0, 0, 4);
    items->setSpacing(4);
    items->addStretch(1);
    auto *group = new QButtonGroup(this);
    for (const QString &pane : {connectionPane, preferencesPane, libraryPane}) {
        auto *item = new QToolButton(toolbar);
        item->setObjectName(pane);
        item->setText(pane);
        item->setToolTip(pane);
        item->setAccessibleName(pane);
        item->setIcon(paneIcon(pane));
        item->setIconSize(QSize(22, 22));
        item->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        item->setCheckable(true);
        item->setFocusPolicy(Qt::NoFocus);
        item->setMinimumWidth(84);
        group->addButton(item);
        connect(item, &QToolButton::clicked, this, [this, pane] { selectPane(pane); });
        items->addWidget(item);
        m_paneButtons << item;
    }
    items->addStretch(1);

    m_tabs->setGeometry(0, chromeHeight, panelWidth, contentHeight - 48);
    m_tabs->addWidget(buildConnectionPane());
    m_tabs->addWidget(buildPreferencesPane());
    m_tabs->addWidget(buildLibraryPane());

    m_status->setObjectName("status");
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_status->setGeometry(20, chromeHeight + contentHeight - 12 - 28, panelWidth - 40, 28);

    // The dark style stays on the window's own views: its dialogs keep the desktop's look.
    for (QWidget *view : {toolbar, static_cast<QWidget *>(m_tabs), static_cast<QWidget *>(m_status), static_cast<QWidget *>(m_close)})
        view->setStyleSheet(QString::fromLatin1(panelStyle));

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &VintrelleNativeSettings::cancelOperation);

    // The title bar and the empty toolbar move the window, as a title bar does.
    VintrelleInstallTopDragging(this, chromeHeight);
    selectPane(connectionPane);
}

VintrelleNativeSettings::~VintrelleNativeSettings() = default;

QWidget *VintrelleNativeSettings::buildConnectionPane()
{
    auto *pane = new QWidget(m_tabs);
    pane->setObjectName(connectionPane);
    QVBoxLayout *stack = paneStack(pane);

    auto *ableton = new SettingsGroup(pane);
    ableton->addRow(settingsRow(tr("Ableton connection"), makeButton(tr("Install…"), &VintrelleNativeSettings::installConnection), ableton));
    ableton->addRow(descriptionRow(tr("1. Install the connection, then restart Ableton.\n"
                                      "2. Open Ableton Settings → Link, Tempo & MIDI.\n"
                                      "3. Select VintrelleBridge in a Control Surface slot. Leave Input and Output set to None."),
                                   ableton));
    stack->addWidget(ableton);

    auto *check = new SettingsGroup(pane);
    check->addRow(settingsRow(tr("Check your connection"), makeButton(tr("Test Connection"), &VintrelleNativeSettings::testConnection), check));
    stack->addWidget(check);
    return pane;
}

QWidget *VintrelleNativeSettings::buildPreferencesPane()
{
    auto *pane = new QWidget(m_tabs);
    pane->setObjectName(preferencesPane);
    QVBoxLayout *stack = paneStack(pane);
    stack->addWidget(wrappingLabel(tr("Open Vintrelle with a double right-click or your keyboard shortcut."), "text", pane));

    m_combo = new SettingsPopUp;
    for (const VintrelleShortcutChoice &choice : VintrelleShortcutChoices())
        m_combo->addItem(choice.title, choice.combo);
    m_combo->setMinimumWidth(150);
    connect(m_combo, &QComboBox::activated, this, &VintrelleNativeSettings::comboChanged);
    m_letter = new SettingsPopUp;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        m_letter->addItem(QString(QLatin1Char(letter)));
    m_letter->setCurrentText(QStringLiteral("P"));
    m_letter->setMinimumWidth(64);
    m_letter->setMaxVisibleItems(13);
    for (QComboBox *popUp : {m_combo, m_letter})
        popUp->setCursor(Qt::PointingHandCursor);

    auto *shortcut = new SettingsGroup(pane);
    shortcut->addRow(settingsRow(tr("Keyboard shortcut"), m_combo, shortcut));
    shortcut->addRow(settingsRow(tr("Shortcut key"), m_letter, shortcut));
    stack->addWidget(shortcut);

    m_login = new SettingsSwitch(nullptr);
    auto *apply = new SettingsGroup(pane);
    apply->addRow(settingsRow(tr("Open at login"), m_login, apply));
    apply->addRow(settingsRow(tr("Apply changes"), makeButton(tr("Save Preferences"), &VintrelleNativeSettings::savePreferences), apply));
    stack->addWidget(apply);
    comboChanged();
    return pane;
}

QWidget *VintrelleNativeSettings::buildLibraryPane()
{
    auto *pane = new QWidget(m_tabs);
    pane->setObjectName(libraryPane);
    QVBoxLayout *stack = paneStack(pane);
    stack->addWidget(wrappingLabel(tr("Default categories: Instruments, EQ & Filters, Dynamics, Saturation & Distortion, "
                                      "Reverb, Delay, Modulation and Utilities. Includes subcategories; keeps your existing items."),
                                   "text", pane));

    auto *library = new SettingsGroup(pane);
    library->addRow(settingsRow(tr("Default Categories"), makeButton(tr("Add to Library"), &VintrelleNativeSettings::addStarterCategories), library));
    library->addRow(settingsRow(tr("Back up your library"), makeButton(tr("Export…"), &VintrelleNativeSettings::exportLibrary), library));
    library->addRow(settingsRow(tr("Restore or merge a library"), makeButton(tr("Import…"), &VintrelleNativeSettings::importLibrary), library));
    stack->addWidget(library);

    QPushButton *resetButton = makeButton(tr("Reset Library…"), &VintrelleNativeSettings::reset);
    resetButton->setObjectName("destructive");
    auto *danger = new SettingsGroup(pane);
    danger->addRow(settingsRow(tr("Remove all categories and plug-ins"), resetButton, danger));
    stack->addWidget(danger);
    return pane;
}

QPushButton *VintrelleNativeSettings::makeButton(const QString &title, void (VintrelleNativeSettings::*action)())
{
    auto *button = new QPushButton(title);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    connect(button, &QPushButton::clicked, this, action);
    m_buttons << button;
    return button;
}

QPushButton *VintrelleNativeSettings::button(const QString &title) const
{
    for (QPushButton *candidate : m_buttons)
        if (candidate->text() == title)
            return candidate;
    return nullptr;
}

QToolButton *VintrelleNativeSettings::paneButton(const QString &name) const
{
    for (QToolButton *item : m_paneButtons)
        if (item->objectName() == name)
            return item;
    return nullptr;
}

QString VintrelleNativeSettings::currentPane() const
{
    return m_tabs->currentWidget() ? m_tabs->currentWidget()->objectName() : QString();
}

// ---- Showing, moving, closing ------------------------------------------------------------------

void VintrelleNativeSettings::open()
{
    openAtPoint(QCursor::pos());
}

void VintrelleNativeSettings::openAtPoint(const QPoint &topLeft)
{
    if (!isVisible())
        VintrellePlaceWindowAtTopLeft(this, topLeft);
    show();
    raise();
    activateWindow();
    if (!command)
        return;
    QPointer<VintrelleNativeSettings> self(this);
    command(QJsonObject{{"op", "preferences"}}, [self](std::optional<QJsonObject> result, std::optional<QString> error) {
        if (!self)
            return;
        const QJsonObject preferences = result.value_or(QJsonObject());
        const int combo = self->m_combo->findData(preferences.value("combo").toString());
        if (combo >= 0)
            self->m_combo->setCurrentIndex(combo);
        const QString letter = preferences.value("letter").toString();
        const int letterIndex = self->m_letter->findText(letter.isEmpty() ? QStringLiteral("P") : letter);
        if (letterIndex >= 0)
            self->m_letter->setCurrentIndex(letterIndex);
        // Both ways: a switch flipped but never saved must not outlive its window.
        self->m_login->setChecked(truthy(preferences.value("login")));
        self->comboChanged();
        self->showStatus(error.value_or(QString()));
    });
}

void VintrelleNativeSettings::selectPane(const QString &name)
{
    for (int index = 0; index < m_tabs->count(); ++index) {
        if (m_tabs->widget(index)->objectName() != name)
            continue;
        m_tabs->setCurrentIndex(index);
        setWindowTitle(name);
        paneButton(name)->setChecked(true);
    }
}

void VintrelleNativeSettings::cancelOperation()
{
    close();
}

void VintrelleNativeSettings::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClose)
        onClose();
}

void VintrelleNativeSettings::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible() && onMoved)
        onMoved(pos());
}

void VintrelleNativeSettings::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillPath(roundedPath(bounds, cornerRadius), panelColour);
    // The toolbar's lower edge, as a window's toolbar has.
    painter.fillRect(QRectF(0, chromeHeight - 1, width(), 1), separatorColour);
    painter.setPen(QPen(QColor(255, 255, 255, 26), 1));
    painter.drawPath(roundedPath(bounds, cornerRadius));
}

void VintrelleNativeSettings::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    VintrelleCutRoundedCorners(this, cornerRadius);
}

// The Edit menu's Undo is a window action that works on text fields; this window has none, so
// here it undoes the last library change instead.
void VintrelleNativeSettings::actionEvent(QActionEvent *event)
{
    QWidget::actionEvent(event);
    if (event->type() == QEvent::ActionAdded && event->action()->shortcut() == QKeySequence(QKeySequence::Undo))
        connect(event->action(), &QAction::triggered, this, &VintrelleNativeSettings::undo, Qt::UniqueConnection);
}

// ---- Commands ------------------------------------------------------------------------------------

void VintrelleNativeSettings::showStatus(const QString &text)
{
    m_status->setText(text);
}

void VintrelleNativeSettings::send(const QJsonObject &sent, QPushButton *button, VintrelleReply done)
{
    if (!command)
        return;
    if (button)
        button->setEnabled(false);
    QPointer<VintrelleNativeSettings> self(this);
    QPointer<QPushButton> sender(button);
    command(sent, [self, sender, done](std::optional<QJsonObject> result, std::optional<QString> error) {
        if (!self)
            return;
        if (sender)
            sender->setEnabled(true);
        done(result, error);
    });
}

void VintrelleNativeSettings::installConnection()
{
    showStatus(tr("Installing…"));
    send({{"op", "install"}}, button(tr("Install…")), [this](std::optional<QJsonObject> result, std::optional<QString> error) {
        const QString message = result ? result->value("message").toString() : QString();
        showStatus(error.value_or(message.isEmpty() ? tr("Installed. Restart Ableton.") : message));
    });
}

void VintrelleNativeSettings::testConnection()
{
    showStatus(tr("Checking Ableton…"));
    send({{"op", "connection"}}, button(tr("Test Connection")), [this](std::optional<QJsonObject> result, std::optional<QString> error) {
        const bool connected = result && result->value("connected").toBool();
        showStatus(error.value_or(connected ? tr("Connected to Ableton.")
                                            : tr("Not connected. Open Ableton and select VintrelleBridge.")));
    });
}

void VintrelleNativeSettings::savePreferences()
{
    const QJsonObject values{{"op", "savePreferences"},
                             {"combo", m_combo->currentData().toString()},
                             {"letter", m_letter->currentText()},
                             {"login", m_login->isChecked() ? 1 : 0}};
    send(values, button(tr("Save Preferences")), [this](std::optional<QJsonObject> result, std::optional<QString> error) {
        const QString message = result ? result->value("message").toString() : QString();
        showStatus(error.value_or(message.isEmpty() ? tr("Preferences saved.") : message));
    });
}

void VintrelleNativeSettings::comboChanged()
{
    // The double tap is a gesture of its own: no letter takes part in it.
    m_letter->setEnabled(m_combo->currentData().toString() != VintrelleShortcutCombo::doubleOption);
}

void VintrelleNativeSettings::addStarterCategories()
{
    const QJsonObject starter{{"op", "import"}, {"contents", VintrelleStarterLibraryContents()}, {"replace", false}};
    send(starter, button(tr("Add to Library")), [this](std::optional<QJsonObject>, std::optional<QString> error) {
        showStatus(error.value_or(tr("Default categories are ready. Undo changes in Edit.")));
    });
}

void VintrelleNativeSettings::undo()
{
    send({{"op", "undo"}}, nullptr, [this](std::optional<QJsonObject>, std::optional<QString> error) {
        showStatus(error.value_or(tr("Last edit undone.")));
    });
}

void VintrelleNativeSettings::reset()
{
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vintrelle"),
                                  tr("Reset Library?"), QMessageBox::NoButton, this);
    alert->setInformativeText(tr("This removes all categories and plug-ins. You can undo it from Edit."));
    QPushButton *confirm = alert->addButton(tr("Reset Library"), QMessageBox::DestructiveRole);
    QPushButton *cancel = alert->addButton(tr("Cancel"), QMessageBox::RejectRole);
    alert->setDefaultButton(confirm);
    alert->setEscapeButton(cancel);
    makeSheet(alert);
    connect(alert, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton *clicked) {
        if (clicked != confirm)
            return;
        send({{"op", "reset"}}, button(tr("Reset Library…")), [this](std::optional<QJsonObject>, std::optional<QString> error) {
            showStatus(error.value_or(tr("Library reset. Undo is available in Edit.")));
        });
    });
    alert->open();
}

// ---- Export and import ------------------------------------------------------------------------

void VintrelleNativeSettings::exportLibrary()
{
    send({{"op", "export"}}, button(tr("Export…")), [this](std::optional<QJsonObject> result, std::optional<QString> error) {
        if (error)
            return showStatus(*error);
        const QString contents = result.value_or(QJsonObject()).value("contents").toString();
        QFileDialog *dialog = libraryFileDialog(this, tr("Export Library"), QFileDialog::AcceptSave);
        dialog->selectFile(VintrelleLibraryFile::proposedName);
        // A cancelled panel leaves everything, the status line included, as it was.
        connect(dialog, &QFileDialog::fileSelected, this, [this, contents](const QString &path) { writeExport(path, contents); });
        dialog->open();
    });
}

void VintrelleNativeSettings::writeExport(const QString &path, const QString &contents)
{
    VintrelleError error;
    showStatus(VintrelleLibraryFile::write(path, contents, &error) ? VintrelleLibraryFile::exportedMessage : error.value_or(QString()));
}

void VintrelleNativeSettings::importLibrary()
{
    QFileDialog *dialog = libraryFileDialog(this, tr("Import Library"), QFileDialog::AcceptOpen);
    connect(dialog, &QFileDialog::fileSelected, this, &VintrelleNativeSettings::importFile);
    dialog->open();
}

void VintrelleNativeSettings::importFile(const QString &path)
{
    VintrelleLibraryFile::ReadFailure failure{};
    const std::optional<QString> text = VintrelleLibraryFile::read(path, &failure);
    if (!text)
        return showStatus(VintrelleLibraryFile::message(failure));
    askImportMode(*text);
}

void VintrelleNativeSettings::askImportMode(const QString &text)
{
    auto *question = new QMessageBox(QMessageBox::Question, QStringLiteral("Vintrelle"), tr("Import Library"),
                                     QMessageBox::NoButton, this);
    question->setInformativeText(tr("Merge adds new folders and plug-ins. Replace exchanges the entire library. "
                                    "Either can be undone from Edit."));
    QPushButton *merge = question->addButton(tr("Merge"), QMessageBox::ActionRole);
    QPushButton *replace = question->addButton(tr("Replace"), QMessageBox::ActionRole);
    QPushButton *cancel = question->addButton(tr("Cancel"), QMessageBox::RejectRole);
    question->setDefaultButton(merge);
    question->setEscapeButton(cancel);
    makeSheet(question);
    connect(question, &QMessageBox::buttonClicked, this, [this, text, merge, replace](QAbstractButton *clicked) {
        if (clicked == merge || clicked == replace)
            sendImport(text, clicked == replace);
    });
    question->open();
}

void VintrelleNativeSettings::sendImport(const QString &text, bool replace)
{
    send({{"op", "import"}, {"contents", text}, {"replace", replace ? 1 : 0}}, button(tr("Import…")),
         [this](std::optional<QJsonObject>, std::optional<QString> error) {
        showStatus(error.value_or(VintrelleLibraryFile::importedMessage));
    });
}
