#include "VintrelleNativeSearch.h"

#include "VintrelleEditHeader.h"
#include "VintrelleEditRowDelegate.h"
#include "VintrelleWindowHelpers.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int insets = 10;
constexpr int textInset = 8;

const QColor labelColour(0xe4, 0xe4, 0xe7);
const QColor secondaryColour(0x8e, 0x8e, 0x96);

const char *const panelStyle = R"(
QLabel#caption { color: #8e8e96; font-size: 11px; font-weight: 500; }
QLabel#status { color: #a1a1aa; font-size: 11px; }
QComboBox, QLineEdit { background: rgba(255, 255, 255, 0.07); color: #e4e4e7; border: 1px solid rgba(255, 255, 255, 0.1);
                       border-radius: 5px; padding: 0 8px; min-height: 26px; max-height: 26px; font-size: 12px;
                       selection-background-color: rgba(10, 132, 255, 0.85); }
QComboBox:focus, QLineEdit:focus { border-color: rgba(10, 132, 255, 0.9); }
QComboBox QAbstractItemView { background: #26262b; color: #e4e4e7; border: 1px solid rgba(255, 255, 255, 0.12);
                              selection-background-color: rgba(10, 132, 255, 0.85); outline: none; }
QPushButton { background: rgba(228, 228, 231, 0.1); color: #e4e4e7; border: none; border-radius: 5px; font-size: 11px;
              font-weight: 500; padding: 0 10px; min-height: 26px; max-height: 26px; }
QPushButton:hover:enabled { background: rgba(228, 228, 231, 0.18); }
QPushButton:pressed { background: rgba(228, 228, 231, 0.24); }
QPushButton:disabled { color: #5c5c64; background: rgba(228, 228, 231, 0.05); }
QPushButton#done { color: #ffffff; background: rgba(10, 132, 255, 0.85); padding: 0; min-height: 24px; max-height: 24px; }
QPushButton#done:hover { background: #2a95ff; }
QPushButton#add:enabled { color: #ffffff; background: rgba(10, 132, 255, 0.85); }
QPushButton#add:enabled:hover { background: #2a95ff; }
QTableWidget { background: transparent; border: 1px solid rgba(255, 255, 255, 0.08); border-radius: 6px; outline: none;
               gridline-color: rgba(255, 255, 255, 0.08); }
QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }
QScrollBar::handle:vertical { background: rgba(255, 255, 255, 0.25); border-radius: 3px; min-height: 24px; }
QScrollBar::add-line, QScrollBar::sub-line, QScrollBar::add-page, QScrollBar::sub-page { background: none; height: 0; }
)";

QFont resultFont(QFont font)
{
    font.setPixelSize(13);
    return font;
}

// A result: its name (with the check mark) over its path, wrapped within the cell's insets and
// centred vertically as one block.
class ResultDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        // Every other row a shade lighter; the view's own alternate colour comes from a light palette.
        if (index.row() % 2 == 1)
            painter->fillRect(option.rect, QColor(255, 255, 255, 9));
        const bool selected = option.state & QStyle::State_Selected;
        if (selected)
            VintrelleEditRowDelegate::paintSelection(painter, option.rect.adjusted(2, 2, -2, -2),
                                                     option.state & QStyle::State_Active);
        const QString text = index.data().toString();
        const qsizetype lineBreak = text.indexOf(QLatin1Char('\n'));
        const QString name = text.left(lineBreak), path = text.mid(lineBreak + 1);
        painter->setFont(resultFont(option.font));
        const QFontMetrics metrics(painter->font());
        const QRect cell = option.rect.adjusted(textInset, 0, -textInset, 0);
        const QRect nameBox = metrics.boundingRect(QRect(0, 0, cell.width(), 100000), Qt::TextWordWrap, name);
        const QRect pathBox = metrics.boundingRect(QRect(0, 0, cell.width(), 100000), Qt::TextWordWrap, path);
        const int top = cell.top() + (cell.height() - nameBox.height() - pathBox.height()) / 2;
        painter->setPen(selected ? QColor(Qt::white) : labelColour);
        painter->drawText(QRect(cell.left(), top, cell.width(), nameBox.height()), Qt::TextWordWrap, name);
        painter->setPen(selected ? QColor(255, 255, 255, 200) : secondaryColour);
        painter->drawText(QRect(cell.left(), top + nameBox.height(), cell.width(), pathBox.height()), Qt::TextWordWrap, path);
        painter->restore();
    }
};

} // namespace

VintrelleNativeSearch::VintrelleNativeSearch()
    : VintrelleDarkPanel(dragStripHeight)
    , m_header(new VintrelleEditHeader(this))
    , m_doneButton(new QPushButton(tr("Done").toUpper(), this))
    , m_destination(new QComboBox(this))
    , m_query(new QLineEdit(this))
    , m_searchButton(new QPushButton(tr("Search").toUpper(), this))
    , m_table(new QTableWidget(this))
    , m_addButton(new QPushButton(this))
    , m_status(new QLabel(this))
{
    setWindowTitle(tr("Add Plug-in"));
    setStyleSheet(QString::fromLatin1(panelStyle));
    setFixedSize(panelWidth, panelHeight);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(insets, insets, insets, insets);
    column->setSpacing(8);
    column->addWidget(m_header);

    auto *caption = new QLabel(tr("Select category"), this);
    caption->setObjectName("caption");
    column->addWidget(caption);
    column->addSpacing(4 - column->spacing());

    m_destination->setAccessibleName(tr("Select category"));
    connect(m_destination, &QComboBox::activated, this, &VintrelleNativeSearch::destinationChanged);
    column->addWidget(m_destination);

    auto *searchRow = new QHBoxLayout;
    searchRow->setSpacing(6);
    m_query->setPlaceholderText(tr("Search Ableton"));
    m_query->setClearButtonEnabled(true);
    connect(m_query, &QLineEdit::returnPressed, this, &VintrelleNativeSearch::find);
    searchRow->addWidget(m_query, 1);
    m_searchButton->setCursor(Qt::PointingHandCursor);
    m_searchButton->setFocusPolicy(Qt::NoFocus);
    connect(m_searchButton, &QPushButton::clicked, this, &VintrelleNativeSearch::find);
    searchRow->addWidget(m_searchButton);
    column->addLayout(searchRow);

    m_table->setColumnCount(1);
    m_table->horizontalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->setShowGrid(true);
    m_table->setGridStyle(Qt::SolidLine);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setItemDelegate(new ResultDelegate(m_table));
    m_table->setMinimumHeight(100);
    // Wrapped rows change height with the column's width.
    connect(m_table->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { updateRowHeights(); });
    m_table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        if (m_updating)
            return;
        const QModelIndexList rows = m_table->selectionModel()->selectedRows();
        m_model.selectRow(rows.isEmpty() ? std::nullopt : std::optional<int>(rows.first().row()));
        refresh();
    });
    connect(m_table, &QTableWidget::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            addSelected();
    });
    column->addWidget(m_table, 1);

    m_addButton->setObjectName("add");
    m_addButton->setCursor(Qt::PointingHandCursor);
    m_addButton->setFocusPolicy(Qt::NoFocus);
    connect(m_addButton, &QPushButton::clicked, this, &VintrelleNativeSearch::addSelected);
    column->addWidget(m_addButton);

    m_status->setObjectName("status");
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(28);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(m_status);

    m_doneButton->setObjectName("done");
    m_doneButton->setCursor(Qt::PointingHandCursor);
    m_doneButton->setFocusPolicy(Qt::NoFocus);
    connect(m_doneButton, &QPushButton::clicked, this, &VintrelleNativeSearch::done);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &VintrelleNativeSearch::done);

    refresh();
}

VintrelleNativeSearch::~VintrelleNativeSearch() = default;

void VintrelleNativeSearch::setConnected(bool connected)
{
    m_header->setConnected(connected);
}

// ---- Library and destination -------------------------------------------------------------------

void VintrelleNativeSearch::updateLibrary(const QJsonArray &categories)
{
    m_updating = true;
    const int scroll = m_table->verticalScrollBar()->value();
    m_model.setCategories(categories);
    m_destination->clear();
    for (const VintrelleSearchDestination &entry : m_model.destinations()) {
        m_destination->addItem(entry.title, entry.id);
        m_destination->setItemData(m_destination->count() - 1, entry.toolTip, Qt::ToolTipRole);
    }
    m_destination->setCurrentIndex(m_model.destinationIndex());
    reloadTable(); // the check marks follow the library
    selectTableRow(m_model.selectedRow());
    m_table->verticalScrollBar()->setValue(scroll);
    m_updating = false;
    refresh();
}

void VintrelleNativeSearch::destinationChanged(int index)
{
    if (index >= 0 && index < m_model.destinations().size())
        m_model.selectDestination(m_model.destinations().at(index).id);
    reloadTable();
    refresh();
}

// ---- Opening and closing ----------------------------------------------------------------------

void VintrelleNativeSearch::openForCategory(const QString &categoryID, const QPoint &topLeft)
{
    m_model.selectDestination(categoryID);
    m_destination->setCurrentIndex(m_model.destinationIndex());
    reloadTable();
    VintrellePlaceWindowAtTopLeft(this, topLeft);
    m_model.opened();
    show();
    raise();
    activateWindow();
    m_query->setFocus(Qt::OtherFocusReason);
    refresh();
}

void VintrelleNativeSearch::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_model.closed();
    refresh();
    if (onClose)
        onClose();
}

void VintrelleNativeSearch::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible() && onMoved)
        onMoved(pos());
}

// ---- Searching and adding ---------------------------------------------------------------------

void VintrelleNativeSearch::find()
{
    const std::optional<QJsonObject> search = m_model.beginSearch(m_query->text());
    refresh();
    if (!search || !command)
        return;
    const quint64 generation = m_model.generation();
    QPointer<VintrelleNativeSearch> self(this);
    command(*search, [self, generation](std::optional<QJsonObject> result, std::optional<QString> error) {
        if (!self || !self->m_model.finishSearch(generation, result, error))
            return; // gone, or an answer to a search that is no longer the latest
        if (!error) {
            self->m_updating = true;
            self->reloadTable();
            self->m_table->clearSelection();
            self->m_table->scrollToTop();
            self->m_updating = false;
        }
        self->refresh();
    });
}

void VintrelleNativeSearch::addSelected()
{
    if (!command)
        return;
    const std::optional<QJsonObject> add = m_model.beginAdding();
    if (!add)
        return;
    refresh();
    QPointer<VintrelleNativeSearch> self(this);
    command(*add, [self](std::optional<QJsonObject>, std::optional<QString> error) {
        if (!self)
            return;
        self->m_model.finishAdding(error);
        self->refresh();
    });
}

// ---- The result table ---------------------------------------------------------------------------

void VintrelleNativeSearch::reloadTable()
{
    const QJsonArray &items = m_model.items();
    const bool wasUpdating = std::exchange(m_updating, true);
    if (m_table->rowCount() != items.size())
        m_table->setRowCount(int(items.size()));
    for (int row = 0; row < items.size(); ++row) {
        const QString text = VintrelleSearchModel::rowText(items.at(row).toObject(), m_model.isAdded(row));
        if (QTableWidgetItem *item = m_table->item(row, 0))
            item->setText(text);
        else
            m_table->setItem(row, 0, new QTableWidgetItem(text));
    }
    m_updating = wasUpdating;
    updateRowHeights();
}

void VintrelleNativeSearch::updateRowHeights()
{
    const QFontMetrics metrics(resultFont(m_table->font()));
    const int width = VintrelleSearchModel::textWidth(m_table->columnWidth(0));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QString text = m_table->item(row, 0) ? m_table->item(row, 0)->text() : QString();
        const QRect box = metrics.boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text);
        m_table->setRowHeight(row, VintrelleSearchModel::rowHeight(box.height()));
    }
}

void VintrelleNativeSearch::selectTableRow(std::optional<int> row)
{
    if (row && *row < m_table->rowCount())
        m_table->selectRow(*row);
    else
        m_table->clearSelection();
}

void VintrelleNativeSearch::refresh()
{
    const VintrelleSearchAddButton button = m_model.addButton();
    m_addButton->setText(button.title.toUpper());
    m_addButton->setEnabled(button.enabled);
    m_status->setText(m_model.status());
}

// ---- The panel ----------------------------------------------------------------------------------

void VintrelleNativeSearch::resizeEvent(QResizeEvent *event)
{
    VintrelleDarkPanel::resizeEvent(event);
    m_doneButton->setGeometry(width() - insets - 44, insets, 44, 24);
    m_doneButton->raise();
}
