#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

#include "discovery/GameScanner.h"
#include "model/ClientListModel.h"
#include "platform/PlatformServices.h"

namespace olvex {

// The one object behind the window. It holds what the window shows as observable properties
// and offers the user's commands. It lives on the main thread: every property is read and
// written there and every command is invoked there; only the scanner runs elsewhere, and only
// its report comes back.
class AppModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("应用只创建一个 AppModel")

    // Version folders found by the last scan, in the scanner's order.
    Q_PROPERTY(olvex::ClientListModel* clients READ clients CONSTANT)
    // Id (path) of the selected version folder; empty when none is selected.
    Q_PROPERTY(QString selection READ selectionText WRITE setSelectionText NOTIFY selectionChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectedChanged)
    // The detail header: the selected folder's title and path, or the welcome texts.
    Q_PROPERTY(QString headerTitle READ headerTitle NOTIFY selectedChanged)
    Q_PROPERTY(QString headerSubtitle READ headerSubtitle NOTIFY selectedChanged)
    // A scan (or, later, an operation) is under way.
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // What the busy bar says while `busy`.
    Q_PROPERTY(QString busyText READ busyText NOTIFY busyChanged)
    // The status line.
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    // The root folders the user added, as stored after the last scan.
    Q_PROPERTY(QStringList savedRoots READ savedRoots NOTIFY savedRootsChanged)
    Q_PROPERTY(bool hasSavedRoots READ hasSavedRoots NOTIFY savedRootsChanged)

public:
    using Scanner = std::function<ScanReport(const std::vector<Path>&)>;

    // User-defaults key of the saved roots.
    static constexpr auto savedKey = "Olvex.selectedRoots";

    // `platform` must outlive the model. `scanner` replaces GameScanner::scanReport (tests).
    explicit AppModel(PlatformServices& platform, Scanner scanner = {}, QObject* parent = nullptr);
    ~AppModel() override;

    ClientListModel* clients() { return &m_clients; }
    const std::vector<GameClient>& clientList() const { return m_clients.clients(); }
    const std::optional<std::string>& selection() const { return m_selection; }
    void setSelection(const std::optional<std::string>& id);
    // The first client whose id is the selection; absent when none matches. Commands on the
    // selected folder read it when they are invoked.
    std::optional<GameClient> selected() const;

    QString selectionText() const;
    void setSelectionText(const QString& id);
    bool hasSelection() const { return selected().has_value(); }
    QString headerTitle() const;
    QString headerSubtitle() const;
    bool busy() const { return m_busy; }
    QString busyText() const;
    QString message() const { return m_message; }
    QStringList savedRoots() const { return m_savedRoots; }
    bool hasSavedRoots() const { return !m_savedRoots.isEmpty(); }

    // Rescans the default and saved roots. Ignored while busy.
    Q_INVOKABLE void scan() { scan(std::nullopt); }
    // Adds `extra` to the saved roots (once), stores them, and rescans in the background;
    // returns at once. Ignored while busy: the folder is then not saved. Never fails.
    void scan(const std::optional<QString>& extra);
    // Asks for a game or version folder and rescans with it saved as a root.
    Q_INVOKABLE void chooseGame();
    // Removes every saved root equal to `root` and rescans. Ignored while busy.
    Q_INVOKABLE void forgetRoot(const QString& root);

signals:
    void selectionChanged();
    void selectedChanged();
    void busyChanged();
    void messageChanged();
    void savedRootsChanged();
    // A scan's report has been applied (or the scan ended without one).
    void scanFinished();

private:
    QCoro::Task<> runScan(std::vector<Path> roots);
    void applyScan(const ScanReport& report);
    void setBusy(bool busy);
    void setMessage(const QString& message);
    void setSavedRoots(const QStringList& roots);
    QStringList storedRoots() const;

    PlatformServices& m_platform;
    Scanner m_scanner;
    ClientListModel m_clients;
    std::optional<std::string> m_selection;
    bool m_busy = false;
    QString m_message;
    QStringList m_savedRoots;
};

// The status line after a scan: how many folders were found, then one warning per kind of
// trouble (inaccessible folders, a search limit, saved roots that are missing).
QString scanMessage(const ScanReport& report, const QStringList& savedRoots);

} // namespace olvex
