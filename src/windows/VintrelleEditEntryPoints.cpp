#include "VintrelleEditEntryPoints.h"

#include "VintrelleNativeNamePrompt.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

VintrelleEditEntryPoints::VintrelleEditEntryPoints(VintrelleNativeNamePrompt *prompt, QObject *parent)
    : QObject(parent), m_prompt(prompt)
{
}

QAction *VintrelleEditCommand(QMenu *menu, const QString &title, VintrelleEditEntryPoints *target,
                              const QJsonObject &command)
{
    QAction *item = menu->addAction(title);
    item->setShortcut(QKeySequence());
    item->setData(command.toVariantMap());
    QObject::connect(item, &QAction::triggered, target, [target, item] { target->performNativeEdit(item->data()); });
    return item;
}

void VintrelleEditEntryPoints::performNativeEdit(const QVariant &itemData)
{
    if (itemData.typeId() != QMetaType::QVariantMap && itemData.typeId() != QMetaType::QJsonObject)
        return;
    performNativeEdit(itemData.toJsonObject().isEmpty() ? QJsonObject::fromVariantMap(itemData.toMap())
                                                        : itemData.toJsonObject());
}

void VintrelleEditEntryPoints::performNativeEdit(const QJsonObject &request)
{
    QTimer::singleShot(0, this, [this, request] { process(request); });
}

void VintrelleEditEntryPoints::process(QJsonObject request)
{
    const QString op = request.value("op").toString();
    if (op == u"addCategoryPrompt" || op == u"renamePrompt") {
        // One prompt at a time: a second request brings the open one forward.
        if (m_prompt->window()->isVisible()) {
            m_prompt->window()->raise();
            m_prompt->window()->activateWindow();
            return;
        }
        const QJsonValue category = request.value("categoryID");
        const QString title = op == u"renamePrompt"
                                  ? tr("Rename")
                                  : (category.isString() && !category.toString().isEmpty() ? tr("New Subcategory")
                                                                                           : tr("New Category"));
        const QJsonValue name = request.value("name");
        const std::optional<QString> initial = name.isString() ? std::optional(name.toString()) : std::nullopt;
        QPointer<VintrelleEditEntryPoints> self(this);
        m_prompt->openWithTitle(title, initial, anchor ? anchor() : QPoint(), [self, request, op](std::optional<QString> entered) mutable {
            if (!self)
                return;
            if (!entered) {
                if (self->openEditor)
                    self->openEditor();
                return;
            }
            request.insert("op", op == u"renamePrompt" ? QStringLiteral("rename") : QStringLiteral("addCategory"));
            request.insert("name", *entered);
            self->completeNativeEdit(request);
        });
        return;
    }
    if (op == u"deletePrompt")
        request.insert("op", QStringLiteral("delete"));
    completeNativeEdit(request);
}

void VintrelleEditEntryPoints::completeNativeEdit(const QJsonObject &sent)
{
    if (!command)
        return;
    QPointer<VintrelleEditEntryPoints> self(this);
    const QString op = sent.value("op").toString();
    const bool fromPrompt = op == u"rename" || op == u"addCategory";
    command(sent, [self, sent, fromPrompt](std::optional<QJsonObject>, std::optional<QString> error) {
        if (!self)
            return;
        if (!error) {
            if (sent.value("returnToBrowse").toBool()) {
                if (self->returnToBrowse)
                    self->returnToBrowse();
            } else if (self->openEditor) {
                self->openEditor();
            }
            return;
        }
        if (self->openEditor && !(self->editorWindow && self->editorWindow()))
            self->openEditor(); // the alert needs a window to sit on
        const QString message = *error;
        QTimer::singleShot(0, self, [self, message, fromPrompt] {
            if (self)
                self->showFailure(message, fromPrompt);
        });
    });
}

// The alert sits on the window the edit came from: the prompt for a named edit, else the editor.
void VintrelleEditEntryPoints::showFailure(const QString &message, bool fromPrompt)
{
    QWidget *host = fromPrompt || !editorWindow ? m_prompt->window() : editorWindow();
    if (!host)
        host = m_prompt->window();
    host->show();
    host->raise();
    host->activateWindow();
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Could not complete edit"), tr("Could not complete edit"),
                                QMessageBox::Ok, host);
    box->setInformativeText(message);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_alert = box;
    QPointer<VintrelleEditEntryPoints> self(this);
    connect(box, &QDialog::finished, this, [self] {
        if (!self)
            return;
        self->m_prompt->window()->hide();
        if (self->returnToBrowse)
            self->returnToBrowse();
    });
    box->open();
}
