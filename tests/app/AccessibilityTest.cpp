#include <QAccessible>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

#include "AppShell.h"
#include "model/AppModel.h"
#include "support/FakePlatform.h"
#include "support/GameFixture.h"
#include "support/QtPrint.h"

using namespace olvex;
using namespace olvex::test;

namespace {

bool settled(AppModel& model) {
    return QTest::qWaitFor([&] { return !model.operation()->busy() && !model.folders()->refreshing(); }, 10000);
}

bool actionable(QAccessible::Role role) {
    switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::MenuItem:
    case QAccessible::ListItem:
    case QAccessible::EditableText:
        return true;
    default:
        return false;
    }
}

// What a screen reader meets in the window as it stands: every visible text item must be in
// the accessibility tree with a role and its text as name, or be the label of a control named
// with it; every visible control needs a role and a name, and no two enabled controls of the
// view in front (the open sheet or dialog, else the window) may share one.
void checkTree(QQuickWindow* window, const char* state, size_t leastNodes = 20) {
    SCOPED_TRACE(state);
    QTest::qWait(50); // lets popups finish opening and bindings settle
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    ASSERT_NE(root, nullptr);
    struct Node {
        QAccessibleInterface* iface;
        QQuickItem* item;
    };
    std::vector<Node> nodes;
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface* child = iface->child(i);
            if (child == nullptr || child->state().invisible) {
                continue;
            }
            nodes.push_back({child, qobject_cast<QQuickItem*>(child->object())});
            walk(child);
        }
    };
    walk(root);
    ASSERT_GE(nodes.size(), leastNodes) << "the tree is empty: is accessibility active?";

    // The view in front: the topmost visible modal popup's item, when one is open.
    QQuickItem* front = nullptr;
    const std::function<void(QQuickItem*)> findFront = [&](QQuickItem* item) {
        if (item->isVisible() && item->inherits("QQuickPopupItem") && item->parentItem() != nullptr &&
            item->parentItem()->inherits("QQuickOverlay")) {
            const QObject* popup = item->parent();
            if (popup == nullptr || popup->property("modal").toBool()) {
                front = item;
            }
        }
        for (QQuickItem* child : item->childItems()) {
            findFront(child);
        }
    };
    findFront(window->contentItem()->parentItem() ? window->contentItem()->parentItem() : window->contentItem());
    const auto inFront = [&](QQuickItem* item) {
        if (front == nullptr) {
            return true;
        }
        for (QQuickItem* up = item; up != nullptr; up = up->parentItem()) {
            if (up == front) {
                return true;
            }
        }
        return false;
    };

    QSet<QQuickItem*> exposed;
    QHash<QString, int> names;
    for (const Node& node : nodes) {
        const QAccessible::Role role = node.iface->role();
        const QString name = node.iface->text(QAccessible::Name);
        const QString where = node.item
                                  ? node.item->objectName() + QStringLiteral(" (") +
                                        QString::fromLatin1(node.item->metaObject()->className()) + QLatin1Char(')')
                                  : QStringLiteral("?");
        exposed.insert(node.item);
        EXPECT_NE(role, QAccessible::NoRole) << where.toStdString();
        EXPECT_NE(role, QAccessible::Client) << where.toStdString();
        if (actionable(role) || role == QAccessible::StaticText) {
            EXPECT_FALSE(name.trimmed().isEmpty()) << "unnamed " << where.toStdString() << " role " << role;
        }
        if (actionable(role) && role != QAccessible::EditableText && !node.iface->state().disabled && node.item &&
            inFront(node.item)) {
            ++names[name];
        }
    }
    for (auto it = names.begin(); it != names.end(); ++it) {
        EXPECT_EQ(it.value(), 1) << "controls share the name " << it.key().toStdString();
    }

    // Every visible, non-empty text item is exposed itself or names the control it labels.
    const std::function<void(QQuickItem*)> visitTexts = [&](QQuickItem* item) {
        if (!item->isVisible() || item->opacity() == 0) {
            return;
        }
        const QString className = QString::fromLatin1(item->metaObject()->className());
        const QString text = item->property("text").toString();
        if ((className.startsWith(QStringLiteral("QQuickText_")) || className == QStringLiteral("QQuickText") ||
             className.startsWith(QStringLiteral("QQuickTextEdit"))) &&
            !text.trimmed().isEmpty() && inFront(item) && !exposed.contains(item)) {
            bool labels = false;
            int depth = 0;
            for (QQuickItem* up = item->parentItem(); up != nullptr && depth < 4 && !labels; up = up->parentItem()) {
                ++depth;
                // A control's name may say more than its label ("清理…" of which add-on).
                if (exposed.contains(up)) {
                    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(up);
                    labels = control != nullptr && actionable(control->role()) &&
                             !control->text(QAccessible::Name).trimmed().isEmpty();
                }
            }
            EXPECT_TRUE(labels) << "text not exposed: " << text.toStdString();
        }
        for (QQuickItem* child : item->childItems()) {
            visitTexts(child);
        }
    };
    visitTexts(window->contentItem()->parentItem() ? window->contentItem()->parentItem() : window->contentItem());
}

} // namespace

// The window in each state a player meets, as the screenshots show them, walked as an assistive
// technology walks it.
TEST(Accessibility, EveryStateExposesNamedTextsAndUniquelyNamedControls) {
    QAccessible::setActive(true);
    GameFixture game;
    game.root("_retail_");
    game.root("_classic_");
    game.addAddon("Keep");
    game.addCharacter("ACC", "Realm", "Hero", "x");
    // Two damaged add-on settings: one with the game's .bak to repair from, one with no copy.
    writeFile(game.wtf() / "Account/ACC/SavedVariables/Empty.lua", "");
    writeFile(game.wtf() / "Account/ACC/Realm/Hero/SavedVariables/Cut.lua", "CutDB = {");
    writeFile(game.wtf() / "Account/ACC/Realm/Hero/SavedVariables/Cut.lua.bak", "CutDB = {}");
    const LocalBackup wtf = game.snapshot(BackupKind::wtf);
    game.snapshot(BackupKind::wtf); // two backups of one kind, made within the same second
    FakePlatform platform;
    platform.roots = {game.game};
    // While `hold` is set, an operation waits at its space check: the busy state, held still.
    std::atomic<bool> hold = false;
    AppModel model(platform, {}, std::make_unique<ManagerService>([&hold](const Path&) {
                       while (hold) {
                           QThread::msleep(5);
                       }
                       return std::numeric_limits<std::int64_t>::max();
                   }));
    QQmlApplicationEngine engine;
    QQuickWindow* window = loadMainWindow(engine, model);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(settled(model));
    model.folders()->setSelectionText(toQString(game.root("_retail_")));
    ASSERT_TRUE(settled(model));
    // Two releases of a pack, so that an add-on is retired and the add-on backups are listed.
    model.folders()->setGameClosed(true);
    for (const auto& [file, addons] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"p1.zip", {"Alpha", "Beta"}}, {"p2.zip", {"Alpha"}}}) {
        model.packs()->chooseZIP(toQString(game.pack(file, addons, file == "p1.zip" ? "1.0" : "2.0")));
        ASSERT_TRUE(settled(model));
        model.packs()->install();
        ASSERT_TRUE(settled(model));
    }
    ASSERT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    model.folders()->setGameClosed(false);
    checkTree(window, "main");

    model.packs()->chooseZIP(toQString(game.pack("p3.zip", {"Gamma"}, "3.0")));
    ASSERT_TRUE(settled(model));
    checkTree(window, "install-sheet");
    model.packs()->install(); // refused: the box is not ticked
    ASSERT_TRUE(settled(model));
    checkTree(window, "sheet-error");
    model.packs()->cancelPreview();
    ASSERT_TRUE(settled(model));
    model.operation()->dismissError();

    model.backups()->chooseScope(QString::fromStdString(wtf.id.text()));
    ASSERT_TRUE(settled(model));
    checkTree(window, "scope-picker");
    model.backups()->scopePicker()->setByAddon(true);
    checkTree(window, "addon-scope-picker");
    model.dismissCandidates();

    model.backups()->setRestoreCandidate(QString::fromStdString(wtf.id.text()));
    checkTree(window, "restore-dialog");
    model.dismissCandidates();

    SettingsHealth* health = model.backups()->health();
    ASSERT_EQ(health->damaged()->rowCount(), 2);
    model.folders()->setGameClosed(true); // the repair buttons enabled, so their names count
    checkTree(window, "damaged-settings");
    for (const auto& row : health->damaged()->rows()) {
        health->setRepairCandidate(row.path);
        checkTree(window, row.canRepair ? "repair-dialog" : "repair-impossible");
        model.dismissCandidates();
    }
    health->setRepairAllCandidate();
    checkTree(window, "repair-all-dialog");
    model.dismissCandidates();
    model.folders()->setGameClosed(false);

    ASSERT_FALSE(model.packs()->retired()->rows().empty());
    model.packs()->setRetiredCandidate(model.packs()->retired()->rows().front().retiredId);
    checkTree(window, "retired-dialog");
    model.dismissCandidates();

    for (const auto& backup : model.backups()->backupList()) {
        if (backup.kind == BackupKind::addons) {
            model.backups()->chooseScope(QString::fromStdString(backup.id.text()));
            break;
        }
    }
    ASSERT_TRUE(settled(model));
    ASSERT_TRUE(model.operation()->hasError());
    checkTree(window, "error-alert");
    model.operation()->dismissError();

    model.addons()->setQuery(QStringLiteral("alp"));
    checkTree(window, "search");
    model.addons()->setQuery({});

    hold = true;
    model.folders()->setGameClosed(true);
    model.backups()->backup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.operation()->canCancel(); }, 10000));
    checkTree(window, "busy");
    hold = false;
    ASSERT_TRUE(settled(model));
    model.folders()->setGameClosed(false);

    auto* settings = window->findChild<QQuickWindow*>(QStringLiteral("settingsWindow"));
    ASSERT_NE(settings, nullptr);
    settings->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    checkTree(settings, "settings", 5);
    settings->close();

    // An interrupted transaction, as a crash leaves its journal.
    writeFile(game.root("_retail_") / ".olvex-manager/active.json",
              R"({"kind":"wtf","backup":")" + wtf.id.text() + R"("})");
    model.folders()->refresh();
    ASSERT_TRUE(settled(model));
    const std::function<bool(QQuickItem*)> shows = [&](QQuickItem* item) {
        if (item->objectName() == QStringLiteral("recoveryBox")) {
            return item->isVisible();
        }
        const auto children = item->childItems();
        return std::any_of(children.begin(), children.end(), shows);
    };
    ASSERT_TRUE(shows(window->contentItem()));
    checkTree(window, "recovery");

    // A journal naming a backup that is not there: the recovery box says why it cannot roll back.
    writeFile(game.root("_retail_") / ".olvex-manager/active.json",
              R"({"kind":"wtf","backup":"00000000-0000-4000-8000-000000000000"})");
    model.folders()->refresh();
    ASSERT_TRUE(settled(model));
    ASSERT_TRUE(model.folders()->hasAttention());
    ASSERT_FALSE(model.folders()->canRecover());
    checkTree(window, "attention");

    platform.roots = std::vector<Path>{};
    FakePlatform empty;
    AppModel welcome(empty);
    QQmlApplicationEngine other;
    QQuickWindow* bare = loadMainWindow(other, welcome);
    ASSERT_NE(bare, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bare));
    ASSERT_TRUE(settled(welcome));
    checkTree(bare, "welcome");
}
