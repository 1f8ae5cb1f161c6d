#include "VintrelleNamePanel.h"

#include "VintrelleWindowHelpers.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {

constexpr qreal cornerRadius = 10;

const char *const panelStyle = R"(
QLabel#title { color: #a1a1aa; font-size: 13px; font-weight: 600; }
QLineEdit {
    background: #26262b; color: #f4f4f5; border: 1px solid #3a3a41; border-radius: 6px;
    padding: 0 8px; font-size: 13px; selection-background-color: #0a84ff; selection-color: #ffffff;
}
QLineEdit:focus { border: 1px solid #0a84ff; }
QPushButton { border-radius: 6px; font-size: 12px; font-weight: 600; padding: 0 10px; }
QPushButton#save { background: #0a84ff; color: #ffffff; border: none; }
QPushButton#save:hover { background: #2a95ff; }
QPushButton#save:pressed { background: #0070e0; }
QPushButton#cancel { background: rgba(255, 255, 255, 0.08); color: #e4e4e7; border: 1px solid rgba(255, 255, 255, 0.06); }
QPushButton#cancel:hover { background: rgba(255, 255, 255, 0.14); }
QPushButton#close { background: transparent; color: #8e8e96; border: none; border-radius: 8px; font-size: 14px; padding: 0; }
QPushButton#close:hover { background: rgba(255, 255, 255, 0.12); color: #f4f4f5; }
)";

QPainterPath panelShape(const QRectF &bounds)
{
    QPainterPath path;
    path.addRoundedRect(bounds, cornerRadius, cornerRadius);
    return path;
}

} // namespace

VintrelleNamePanel::VintrelleNamePanel()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_title(new QLabel(this))
    , m_field(new QLineEdit(this))
    , m_save(new QPushButton(tr("Save"), this))
    , m_cancel(new QPushButton(tr("Cancel"), this))
    , m_close(new QPushButton(QStringLiteral("×"), this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(panelWidth, panelHeight);
    setStyleSheet(QString::fromLatin1(panelStyle));

    m_title->setObjectName("title");
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setGeometry(40, 4, panelWidth - 80, dragStripHeight);
    m_title->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_close->setObjectName("close");
    m_close->setGeometry(panelWidth - 26, 8, 16, 16);
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setToolTip(tr("Cancel"));
    m_close->setAccessibleName(tr("Close"));

    // Qt's y grows downward: the field's bottom is 70 points above the panel's bottom, the
    // buttons' bottoms 18.
    m_field->setGeometry(16, panelHeight - 70 - 24, 268, 24);
    m_cancel->setObjectName("cancel");
    m_cancel->setGeometry(120, panelHeight - 18 - 28, 78, 28);
    m_save->setObjectName("save");
    m_save->setGeometry(206, panelHeight - 18 - 28, 78, 28);
    for (QPushButton *button : {m_cancel, m_save}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
    }

    // The insertion point follows the label colour rather than the platform's default.
    QPalette fieldPalette = m_field->palette();
    fieldPalette.setColor(QPalette::Text, QColor(0xf4, 0xf4, 0xf5));
    m_field->setPalette(fieldPalette);
    setFocusProxy(m_field);

    connect(m_save, &QPushButton::clicked, this, &VintrelleNamePanel::saveRequested);
    connect(m_cancel, &QPushButton::clicked, this, &VintrelleNamePanel::cancelRequested);
    connect(m_close, &QPushButton::clicked, this, &VintrelleNamePanel::cancelRequested);
}

void VintrelleNamePanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillPath(panelShape(bounds), QColor(0x1c, 0x1c, 0x20));
    painter.setPen(QPen(QColor(255, 255, 255, 26), 1));
    painter.drawPath(panelShape(bounds));
    painter.setPen(QPen(QColor(255, 255, 255, 14), 1));
    painter.drawLine(QPointF(12, dragStripHeight + 8.5), QPointF(width() - 12, dragStripHeight + 8.5));
}

// The field passes Return and Escape on, so they arrive here whichever child has the focus.
void VintrelleNamePanel::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit saveRequested();
        return;
    case Qt::Key_Escape:
        emit cancelRequested();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

// Closing is cancelling: the prompt hides the panel itself.
void VintrelleNamePanel::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit cancelRequested();
}

void VintrelleNamePanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible())
        emit moved();
}

void VintrelleNamePanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    VintrelleCutRoundedCorners(this, cornerRadius);
}

void VintrelleNamePanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        m_title->setText(windowTitle());
}

void VintrelleNamePanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || event->position().y() >= dragStripHeight) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_drag.begin(this, event);
}

void VintrelleNamePanel::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_drag.follow(this, event))
        QWidget::mouseMoveEvent(event);
}

void VintrelleNamePanel::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.end();
    QWidget::mouseReleaseEvent(event);
}
