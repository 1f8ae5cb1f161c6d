#include "VintrelleNativeEdit.h"

#include "VintrelleEditHeader.h"
#include "VintrelleEditRowDelegate.h"
#include "VintrelleEditSizing.h"
#include "VintrelleEditTreeModel.h"
#include "VintrelleWindowHelpers.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int spacing = 6;

const char *const panelStyle = R"(
QTreeView { background: transparent; border: none; outline: none; color: #e4e4e7;
            selection-background-color: transparent; show-decoration-selected: 0; }
QPushButton { background: transparent; color: #e4e4e7; border: none; border-radius: 5px; font-size: 11px;
              font-weight: 500; padding: 0 5px; min-height: 24px; max-height: 24px; }
QPushButton:hover:enabled { background: rgba(228, 228, 231, 0.12); }
QPushButton:pressed { background: rgba(228, 228, 231, 0.2); }
QPushButton:disabled { color: #5c5c64; }
QPushButton#history { padding: 0; font-size: 15px; }
QPushButton#done { color: #ffffff; background: rgba(10, 132, 255, 0.85); padding: 0; }
QPushButton#done:hover { background: #2a95ff; }
QLabel#status { color: #f5a38b; font-size: 10px; }
QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }
QScrollBar::handle:vertical { background: rgba(255, 255, 255, 0.25); border-radius: 3px; min-height: 24px; }
QScrollBar::add-line, QScrollBar::sub-line, QScrollBar::add-page, QScrollBar::sub-page { background: none; height: 0; }
)";

bool truthy(const QJsonValue &value)
{
    return value.toBool() || value.toDouble() != 0;
}

} // namespace

VintrelleNativeEdit::VintrelleNativeEdit()
    : VintrelleDarkPanel(dragStripHeight)
    , m_model(new VintrelleEditTreeModel(this))
    , m_header(new VintrelleEditHeader(this))
    , m_outline(new VintrelleEditOutline(this))
    , m_status(new QLabel(this))
{
    setWindowTitle(tr("Edit Library"));
    setStyleSheet(QString::fromLatin1(panelStyle));
    resize(panelWidth, panelHeight);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(12, 6, 12, 6);
    column->setSpacing(spacing);
    column->setSizeConstraint(QLayout::SetNoConstraint);
    column->addWidget(m_header);

    auto *addRow = new QHBoxLayout;
    addRow->setSpacing(6);
    addRow->addWidget(makeButton(tr("+ Category"), &VintrelleNativeEdit::addCategory));
    addRow->addWidget(m_subButton = makeButton(tr("+ Sub-category"), &VintrelleNativeEdit::addSubcategory));
    addRow->addWidget(m_pluginButton = makeButton(tr("+ Plug-in"), &VintrelleNativeEdit::addPlugin));
    addRow->addStretch();
    column->addLayout(addRow);

    m_outline->setModel(m_model);
    m_outline->setFixedHeight(VintrelleEditRowDelegate::rowHeight);
    m_outline->setContextMenuPolicy(Qt::DefaultContextMenu);
    column->addWidget(m_outline);

    auto *arrowRow = new QHBoxLayout;
    arrowRow->setSpacing(12);
    arrowRow->addWidget(m_upButton = makeButton(QStringLiteral("↑"), &VintrelleNativeEdit::up));
    arrowRow->addWidget(m_downButton = makeButton(QStringLiteral("↓"), &VintrelleNativeEdit::down));
    m_upButton->setAccessibleName(tr("Move Up"));
    m_downButton->setAccessibleName(tr("Move Down"));
    arrowRow->addStretch();
    column->addLayout(arrowRow);

    m_status->setObjectName("status");
    m_status->setWordWrap(true);
    m_status->hide();
    column->addWidget(m_status);
    column->addStretch(1);

    m_doneButton = makeButton(tr("Done"), nullptr);
    m_doneButton->setObjectName("done");
    connect(m_doneButton, &QPushButton::clicked, this, &QWidget::close);
    m_redoButton = makeHistoryButton(tr("Redo"), QStringLiteral("↷"), &VintrelleNativeEdit::redo);
    m_undoButton = makeHistoryButton(tr("Undo"), QStringLiteral("↶"), &VintrelleNativeEdit::undo);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    m_outline->dragHover = [this](const QString &id, const QPoint &point) { return dragFeedback(id, point); };
    m_outline->dragDropped = [this](const QString &id, const QPoint &point) {
        if (const std::optional<QJsonObject> dropped = dropCommand(id, point))
            run(*dropped);
    };
    m_outline->dragEnded = [this] { updateCompactSize(); };
    connect(m_outline, &QAbstractItemView::clicked, this, &VintrelleNativeEdit::openCategoryAtRow);
    connect(m_outline->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_updating)
            refreshActions();
    });
    connect(m_outline, &VintrelleEditOutline::contextMenuRequested, this,
            [this](const QPoint &at) { contextMenu()->popup(at); });

    refreshActions();
}

VintrelleNativeEdit::~VintrelleNativeEdit() = default;

QPushButton *VintrelleNativeEdit::makeButton(const QString &title, void (VintrelleNativeEdit::*action)())
{
    auto *button = new QPushButton(title.toUpper(), this);
    button->setProperty("vintrelleTitle", title);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    if (action)
        connect(button, &QPushButton::clicked, this, action);
    m_buttons.append(button);
    return button;
}

QPushButton *VintrelleNativeEdit::makeHistoryButton(const QString &title, const QString &glyph,
                                                    void (VintrelleNativeEdit::*action)())
{
    QPushButton *button = makeButton(title, action);
    button->setText(glyph);
    button->setObjectName("history");
    button->setToolTip(title);
    button->setAccessibleName(title);
    button->setEnabled(false);
    return button;
}

QPushButton *VintrelleNativeEdit::button(const QString &title) const
{
    for (QPushButton *candidate : m_buttons)
        if (candidate->property("vintrelleTitle").toString() == title)
            return candidate;
    return nullptr;
}

const VintrelleEditModel &VintrelleNativeEdit::editModel() const
{
    return m_model->editModel();
}

std::optional<QString> VintrelleNativeEdit::selectedID() const
{
    const QModelIndexList rows = m_outline->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return m_model->idAt(rows.first());
}

void VintrelleNativeEdit::setConnected(bool connected)
{
    m_header->setConnected(connected);
}

// ---- Showing and closing -------------------------------------------------------------------

void VintrelleNativeEdit::showAtTopLeft(const QPoint &topLeft)
{
    refreshActions(); // also asks for the history, and picks up callables set since the last time
    if (!isVisible())
        VintrellePlaceWindowAtTopLeft(this, topLeft);
    updateCompactSize();
    show();
    raise();
    activateWindow();
    m_outline->setFocus(Qt::OtherFocusReason);
}

void VintrelleNativeEdit::closeEvent(QCloseEvent *event)
{
    m_outline->clearVerticalPreview();
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClose)
        onClose();
}

void VintrelleNativeEdit::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible() && onMoved)
        onMoved(pos());
}

void VintrelleNativeEdit::resizeEvent(QResizeEvent *event)
{
    VintrelleDarkPanel::resizeEvent(event);
    m_doneButton->setGeometry(width() - 12 - 44, 6, 44, 24);
    m_redoButton->setGeometry(m_doneButton->x() - 6 - 28, 6, 28, 24);
    m_undoButton->setGeometry(m_redoButton->x() - 2 - 28, 6, 28, 24);
    for (QPushButton *top : {m_undoButton, m_redoButton, m_doneButton})
        top->raise();
}

// ---- Actions ---------------------------------------------------------------------------------

void VintrelleNativeEdit::addCategory()
{
    if (editAction)
        editAction(VintrelleEditModel::addCategoryCommand());
}

void VintrelleNativeEdit::addSubcategory()
{
    if (const std::optional<QJsonObject> command = editModel().addSubcategoryCommand(selectedID()); command && editAction)
        editAction(*command);
}

void VintrelleNativeEdit::addPlugin()
{
    if (const std::optional<QString> category = editModel().selectedCategory(selectedID()); category && onAddPlugin)
        onAddPlugin(*category);
}

void VintrelleNativeEdit::rename()
{
    if (const std::optional<QJsonObject> command = editModel().renameCommand(selectedID()); command && editAction)
        editAction(*command);
}

void VintrelleNativeEdit::remove()
{
    if (const std::optional<QJsonObject> command = editModel().deleteCommand(selectedID()); command && editAction)
        editAction(*command);
}

void VintrelleNativeEdit::reorder(int offset)
{
    if (const std::optional<QJsonObject> command = editModel().reorderCommand(selectedID(), offset))
        run(*command);
}

void VintrelleNativeEdit::undo()
{
    run(VintrelleEditModel::undoCommand());
}

void VintrelleNativeEdit::redo()
{
    run(VintrelleEditModel::redoCommand());
}

void VintrelleNativeEdit::moveToDestination(const QString &pluginID, const QString &categoryID)
{
    if (const std::optional<QJsonObject> command = editModel().moveCommandForID(pluginID, categoryID))
        run(*command);
}

QMenu *VintrelleNativeEdit::contextMenu()
{
    if (!m_menu)
        m_menu = new QMenu(this);
    m_menu->clear();
    m_menu->setStyleSheet(QStringLiteral("QMenu { font-size: 13px; }"));
    const std::optional<QString> selected = selectedID();
    QAction *renameItem = m_menu->addAction(tr("Rename"), this, &VintrelleNativeEdit::rename);
    QAction *deleteItem = m_menu->addAction(tr("Delete"), this, &VintrelleNativeEdit::remove);
    renameItem->setEnabled(bool(selected));
    deleteItem->setEnabled(bool(selected));
    const VintrelleEditModel::Node *node = selected ? editModel().node(*selected) : nullptr;
    if (node && node->kind == VintrelleEditModel::Kind::Plugin) {
        QMenu *destinations = m_menu->addMenu(tr("Move to"));
        for (const VintrelleEditMoveDestination &destination : editModel().moveDestinationsForID(node->id)) {
            QAction *item = destinations->addAction(destination.title);
            item->setEnabled(bool(destination.command));
            connect(item, &QAction::triggered, this,
                    [this, plugin = node->id, category = destination.categoryID] { moveToDestination(plugin, category); });
        }
    }
    return m_menu;
}

// ---- Commands and history ----------------------------------------------------------------------

void VintrelleNativeEdit::run(const QJsonObject &sent)
{
    if (!command)
        return;
    m_historyBusy = true;
    m_undoButton->setEnabled(false);
    m_redoButton->setEnabled(false);
    QPointer<VintrelleNativeEdit> self(this);
    command(sent, [self, sent](std::optional<QJsonObject>, std::optional<QString> error) {
        if (!self)
            return;
        self->m_historyBusy = false;
        self->m_status->setText(error.value_or(QString()));
        self->m_status->setVisible(bool(error));
        if (!error && sent.value("op").toString() == u"move")
            self->revealMovedPlugin(sent.value("id").toString());
        self->refreshActions();
    });
}

void VintrelleNativeEdit::refreshActions()
{
    const VintrelleEditActions actions = editModel().actions(selectedID());
    m_subButton->setEnabled(actions.addSubcategory);
    m_pluginButton->setEnabled(actions.addPlugin && bool(onAddPlugin));
    m_upButton->setEnabled(actions.moveUp);
    m_downButton->setEnabled(actions.moveDown);
    updateCompactSize();
    refreshHistory();
}

void VintrelleNativeEdit::refreshHistory()
{
    if (!command)
        return;
    const quint64 generation = ++m_historyGeneration;
    QPointer<VintrelleNativeEdit> self(this);
    command(VintrelleEditModel::historyCommand(), [self, generation](std::optional<QJsonObject> result,
                                                                     std::optional<QString> error) {
        if (!self || generation != self->m_historyGeneration)
            return; // an answer to an older query
        const bool usable = !self->m_historyBusy && !error && result;
        self->m_undoButton->setEnabled(usable && truthy(result->value("canUndo")));
        self->m_redoButton->setEnabled(usable && truthy(result->value("canRedo")));
    });
}

// ---- The tree: updates, expansion, selection -------------------------------------------------

void VintrelleNativeEdit::updateLibrary(const QJsonArray &categories)
{
    const bool wasExpanding = std::exchange(m_expandingDragDestination, true);
    const std::optional<QString> selected = selectedID();
    const QSet<QString> expanded = m_expanded;
    m_updating = true;
    m_model->setCategories(categories);
    const VintrelleEditRestorePlan plan = editModel().restorePlan(selected, expanded);
    applyExpansion(plan.expanded);
    if (plan.selected)
        selectID(*plan.selected);
    else
        m_outline->selectionModel()->clearSelection();
    m_updating = false;
    m_expandingDragDestination = wasExpanding;
    refreshActions();
}

// Makes exactly `openTopDown` open. Every category is opened after its parent, and the ones that
// close take their open descendants with them, so nothing reopens later by surprise.
void VintrelleNativeEdit::applyExpansion(const QStringList &openTopDown)
{
    if (m_outline->verticalDragActive() && !m_expandingDragDestination)
        return;
    const QSet<QString> wanted(openTopDown.begin(), openTopDown.end());
    for (const QString &id : std::as_const(m_expanded))
        if (!wanted.contains(id))
            if (const QModelIndex index = m_model->indexForID(id); index.isValid())
                m_outline->collapse(index);
    for (const QString &id : openTopDown)
        if (const QModelIndex index = m_model->indexForID(id); index.isValid())
            m_outline->expand(index);
    m_expanded = wanted;
}

QStringList VintrelleNativeEdit::topDown(const QSet<QString> &ids) const
{
    QStringList ordered(ids.begin(), ids.end());
    std::sort(ordered.begin(), ordered.end(), [this](const QString &a, const QString &b) {
        return editModel().ancestorChain(a).size() < editModel().ancestorChain(b).size();
    });
    return ordered;
}

void VintrelleNativeEdit::selectID(const QString &id)
{
    const QModelIndex index = m_model->indexForID(id);
    if (!index.isValid()) {
        m_outline->selectionModel()->clearSelection();
        return;
    }
    m_outline->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void VintrelleNativeEdit::openCategoryAtRow(const QModelIndex &index)
{
    if (!index.isValid() || m_outline->verticalDragActive() || m_outline->suppressRowClick())
        return;
    const QString id = m_model->idAt(index);
    const VintrelleEditModel::Node *node = editModel().node(id);
    if (!node || node->kind != VintrelleEditModel::Kind::Category)
        return;
    applyExpansion(topDown(editModel().expansionAfterClicking(m_expanded, id)));
    selectID(id);
    updateCompactSize();
}

void VintrelleNativeEdit::revealMovedPlugin(const QString &pluginID)
{
    const VintrelleEditRestorePlan plan = editModel().revealPlan(pluginID, m_expanded);
    if (!plan.selected)
        return;
    const bool wasExpanding = std::exchange(m_expandingDragDestination, true);
    applyExpansion(plan.expanded);
    m_expandingDragDestination = wasExpanding;
    selectID(pluginID);
    if (const QModelIndex index = m_model->indexForID(pluginID); index.isValid())
        m_outline->scrollTo(index);
    updateCompactSize();
}

int VintrelleNativeEdit::visibleRowCount(const QString &parentId) const
{
    const QStringList &children = editModel().childrenOf(parentId);
    int count = int(children.size());
    for (const QString &child : children)
        if (m_expanded.contains(child))
            count += visibleRowCount(child);
    return count;
}

QString VintrelleNativeEdit::lastVisibleRow(const QString &parentId) const
{
    const QStringList &children = editModel().childrenOf(parentId);
    if (children.isEmpty())
        return parentId;
    const QString &last = children.last();
    return m_expanded.contains(last) ? lastVisibleRow(last) : last;
}

// ---- Compact size ------------------------------------------------------------------------------

void VintrelleNativeEdit::updateCompactSize()
{
    if (m_sizing || m_outline->verticalDragActive())
        return;
    m_sizing = true;
    const int rows = visibleRowCount();
    m_outline->setVisible(rows > 0);
    QList<double> chrome{double(m_header->height()), 24, 24};
    if (!m_status->isHidden())
        chrome.append(m_status->heightForWidth(panelWidth - 24));
    const double chromeHeight = VintrelleEditChromeHeight(chrome, rows > 0, spacing);
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRectF visible = screen ? QRectF(screen->availableGeometry()) : QRectF();
    const VintrelleEditSizing sizing =
        VintrelleEditCompactSize(chromeHeight, VintrelleEditRowDelegate::rowHeight, rows, visible, QRectF(geometry()));
    m_outline->setFixedHeight(int(sizing.listHeight));
    if (sizing.frameChanged)
        setGeometry(sizing.frame.toRect());
    m_sizing = false;
}

// ---- Dragging ----------------------------------------------------------------------------------

std::optional<VintrelleEditRowSpan> VintrelleNativeEdit::rowSpan(const QString &id) const
{
    const QModelIndex index = m_model->indexForID(id);
    const QRect rect = index.isValid() ? m_outline->visualRect(index) : QRect();
    if (rect.isEmpty())
        return std::nullopt;
    return VintrelleEditRowSpan{double(rect.top()), double(rect.height())};
}

VintrelleEditDropProbe VintrelleNativeEdit::probeAt(const QPoint &viewportPoint) const
{
    VintrelleEditDropProbe probe;
    probe.pointerY = viewportPoint.y();
    const QModelIndex hovered = m_outline->indexAt(QPoint(m_outline->viewport()->width() / 2, viewportPoint.y()));
    if (hovered.isValid()) {
        probe.rowId = m_model->idAt(hovered);
    } else if (const QString last = lastVisibleRow({}); !last.isEmpty()) {
        const std::optional<VintrelleEditRowSpan> span = rowSpan(last);
        probe.atOrBelowLastRow = span && viewportPoint.y() >= span->top + span->height;
    }
    return probe;
}

// A plug-in over a category row that a reorder cannot use goes into that category.
std::optional<QString> VintrelleNativeEdit::moveTargetAt(const QString &id, const QPoint &viewportPoint) const
{
    const VintrelleEditModel::Node *dragged = editModel().node(id);
    const VintrelleEditDropProbe probe = probeAt(viewportPoint);
    if (!dragged || dragged->kind != VintrelleEditModel::Kind::Plugin || !probe.rowId)
        return std::nullopt;
    const VintrelleEditModel::Node *hovered = editModel().node(*probe.rowId);
    if (!hovered || hovered->kind != VintrelleEditModel::Kind::Category)
        return std::nullopt;
    return hovered->id;
}

VintrelleEditOutline::DropFeedback VintrelleNativeEdit::dragFeedback(const QString &id, const QPoint &viewportPoint) const
{
    VintrelleEditOutline::DropFeedback feedback;
    const auto spans = [this](const QString &rowID) { return rowSpan(rowID); };
    if (const std::optional<VintrelleEditDrop> drop = editModel().dropForID(id, probeAt(viewportPoint), spans)) {
        const QStringList &children = editModel().childrenOf(drop->target.parentId);
        if (drop->target.childIndex < children.size()) {
            if (const std::optional<VintrelleEditRowSpan> span = rowSpan(children[drop->target.childIndex]))
                feedback.insertionY = int(span->top);
        } else if (const std::optional<VintrelleEditRowSpan> span = rowSpan(lastVisibleRow(drop->target.parentId))) {
            feedback.insertionY = int(span->top + span->height);
        }
        return feedback;
    }
    if (const std::optional<QString> category = moveTargetAt(id, viewportPoint)) {
        if (const std::optional<VintrelleEditRowSpan> span = rowSpan(*category))
            feedback.targetRow = QRect(0, int(span->top), m_outline->viewport()->width(), int(span->height));
        feedback.notice = editModel().dragNoticeForID(id, *category).value_or(QString());
    }
    return feedback;
}

std::optional<QJsonObject> VintrelleNativeEdit::dropCommand(const QString &id, const QPoint &viewportPoint) const
{
    const auto spans = [this](const QString &rowID) { return rowSpan(rowID); };
    if (const std::optional<VintrelleEditDrop> drop = editModel().dropForID(id, probeAt(viewportPoint), spans))
        return drop->command;
    if (const std::optional<QString> category = moveTargetAt(id, viewportPoint))
        return editModel().moveCommandForID(id, *category);
    return std::nullopt;
}
