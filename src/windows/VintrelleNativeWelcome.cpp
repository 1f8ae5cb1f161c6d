#include "VintrelleNativeWelcome.h"

#include "VintrelleGlassButton.h"
#include "VintrelleTopDragView.h"
#include "VintrelleWelcomeArt.h"
#include "VintrelleWelcomePanel.h"
#include "VintrelleWelcomeStatus.h"
#include "VintrelleWindowHelpers.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel *whiteLabel(const QString &text, int pixelSize, QFont::Weight weight, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    return label;
}

} // namespace

VintrelleNativeWelcome::VintrelleNativeWelcome(bool translucent)
    : m_panel(std::make_unique<VintrelleWelcomePanel>(translucent))
    , m_art(new VintrelleWelcomeArt(m_panel.get()))
    , m_header(new VintrelleWelcomeStatus(m_art))
    , m_heading(whiteLabel(QStringLiteral("WELCOME TO VINTRELLE"), 15, QFont::Bold, m_art))
    , m_firstLine(whiteLabel(QStringLiteral("YOUR FAVORITE PLUG-INS, ONE CLICK AWAY."), 13, QFont::Normal, m_art))
    , m_secondLine(whiteLabel(QStringLiteral("CONNECT TO ABLETON, THEN CREATE A CATEGORY AND ADD YOUR FAVORITE PLUG-INS."),
                              13, QFont::Normal, m_art))
    , m_connectButton(new VintrelleGlassButton(connectTitle(false), m_art))
    , m_libraryButton(new VintrelleGlassButton(libraryTitle(false), m_art))
{
    m_art->setGeometry(m_panel->rect());
    m_art->setTranslucentCorners(translucent);
    m_heading->setWordWrap(false);

    auto *stack = new QVBoxLayout(m_art);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(12);
    for (QWidget *view : std::initializer_list<QWidget *>{m_header, m_heading, m_firstLine, m_secondLine, m_connectButton,
                                                          m_libraryButton})
        stack->addWidget(view);
    stack->addStretch(1);
    // The texts never change, so each line's wrapped height at the column's width is fixed too.
    const int columnWidth = VintrelleWelcomePanel::panelWidth - 24;
    for (QLabel *line : {m_firstLine, m_secondLine})
        line->setFixedHeight(line->heightForWidth(columnWidth));

    m_connectButton->setObjectName(QStringLiteral("vintrelle-welcome-connect"));
    m_libraryButton->setObjectName(QStringLiteral("vintrelle-welcome-library"));
    QObject::connect(m_connectButton, &QPushButton::clicked, this, &VintrelleNativeWelcome::connectPressed);
    QObject::connect(m_libraryButton, &QPushButton::clicked, this, &VintrelleNativeWelcome::libraryPressed);
    QObject::connect(m_panel.get(), &VintrelleWelcomePanel::closed, this, [this] {
        m_art->stop();
        if (onClose)
            onClose();
    });
    QObject::connect(m_panel.get(), &VintrelleWelcomePanel::moved, this, [this] {
        if (onMoved)
            onMoved(m_panel.get());
    });

    VintrelleInstallTopDragging(m_panel.get(), dragStripHeight);
    // The heading greets the user; the window's title is for the window list and assistive
    // technology, not drawn over the artwork.
    if (QWidget *title = VintrelleCenterWindowTitle(m_panel.get()))
        title->hide();
    updateConnected(false, false);
}

VintrelleNativeWelcome::~VintrelleNativeWelcome() = default;

QString VintrelleNativeWelcome::connectTitle(bool connected)
{
    return connected ? QStringLiteral("CONNECTED TO ABLETON ✓") : QStringLiteral("CONNECT TO ABLETON");
}

QString VintrelleNativeWelcome::libraryTitle(bool hasLibrary)
{
    return hasLibrary ? QStringLiteral("OPEN YOUR LIBRARY") : QStringLiteral("CREATE YOUR FIRST CATEGORY");
}

void VintrelleNativeWelcome::updateConnected(bool connected, bool hasLibrary)
{
    m_header->setConnected(connected);
    m_connectButton->setText(connectTitle(connected));
    m_connectButton->setEnabled(bool(onConnect));
    m_libraryButton->setText(libraryTitle(hasLibrary));
}

void VintrelleNativeWelcome::openAtPoint(const QPoint &topLeft)
{
    m_connectButton->setEnabled(bool(onConnect));
    VintrellePlaceWindowAtTopLeft(m_panel.get(), topLeft);
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_art->start();
}

void VintrelleNativeWelcome::hide()
{
    m_art->stop();
    m_panel->hide();
}

void VintrelleNativeWelcome::setReducedMotion(bool reduced)
{
    m_art->setReducedMotion(reduced);
}

void VintrelleNativeWelcome::connectPressed()
{
    if (onConnect)
        onConnect();
}

void VintrelleNativeWelcome::libraryPressed()
{
    if (onLibrary)
        onLibrary();
}

QWidget *VintrelleNativeWelcome::window() const
{
    return m_panel.get();
}

bool VintrelleNativeWelcome::isVisible() const
{
    return m_panel->isVisible();
}
