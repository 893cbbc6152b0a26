#pragma once
#include <QString>
#include <QStringList>

namespace fw::settings_text {

inline const QString kConfigurationMissing = QStringLiteral(
    "Configuration database not found on local system - please contact QRC for assistance");
inline const QString kNodeMissingLower = QStringLiteral("error, could not find fullNodeName=");
inline const QString kNodeMissingUpper = QStringLiteral("Error, could not find fullNodeName=");
inline const QString kDomainReadMissing = QStringLiteral(
    "Error, could not find currently selected domain in ADDomain table in the VelmoraDB database");
inline const QString kDomainChangeMissing = QStringLiteral(
    "Error!  Could not find selected domain in ADDomain table in the database.");
inline const QString kInvalidTime = QStringLiteral("Invalid time format");
inline const QString kSwitchDomain = QStringLiteral(
    "You will lose the changes you made to this domain.  Are you sure you want to switch domains?");

inline const QString kDcDisableReconnect = QStringLiteral(
    "WARNING, you have selected to disable the automatic reconnect functionality for this domain.  It is strongly "
    "recommended that you do not do this in most situations.  If the domain controller currently selected becomes "
    "unavailable, Velmora will not function properly until connectivity is restored.  Are you SURE you want to do this?");
inline const QString kDcNoPrimary = QStringLiteral(
    "You cannot disable the automatic server search functionality without providing an alternative primary domain "
    "controller");
inline const QString kDcDisableAutoFind = QStringLiteral(
    "WARNING, you have selected to disable the automatic server search functionality for this domain.  It is strongly "
    "recommended that you do not do this in most situations.  If the manually entered domain controller server(s) "
    "you've entered become unavailable, Velmora will not function properly until connectivity is restored.  Are you "
    "SURE you want to do this?");
inline const QString kDcSaved = QStringLiteral("Settings saved for domain");

inline const QString kGcDisableReconnect = QStringLiteral(
    "WARNING, you have selected to disable the automatic reconnect functionality for the global catalog server.  It is "
    "strongly recommended that you do not do this in most situations.  If the GC server currently selected becomes "
    "unavailable, Velmora will not function properly until connectivity is restored.  Are you SURE you want to do this?");
inline const QString kGcNoPrimary = QStringLiteral(
    "You cannot disable the automatic server search functionality without providing an alternative global catalog "
    "server");
inline const QString kGcDisableAutoFind = QStringLiteral(
    "WARNING, you have selected to disable the automatic server search functionality for the global catalog server.  "
    "It is strongly recommended that you do not do this in most situations.  If the manually entered global catalog "
    "server(s) become unavailable, Velmora will not function properly until connectivity is restored.  Are you SURE "
    "you want to do this?");
inline const QString kGcSaved = QStringLiteral("Settings saved for global catalog server");

inline const QString kDsgcPrefix = QStringLiteral("System.DirectoryConnectors.ActiveDirectory.DSGC.");
inline const QString kDsadSyncInterval = QStringLiteral("System.DirectoryConnectors.ActiveDirectory.DSAD.SynchInterval");

// Shown instead of saving a panel whose settings could not all be read: it would write values that were never shown.
inline QString notLoadedText(const QString& what)
{
    return QStringLiteral("The settings of %1 could not be read from the database, so the panel does not show them. "
                          "Nothing was saved.")
        .arg(what);
}

// A save found that someone else changed what it had read: it wrote nothing. `what` is "domain NAME" or
// "the global catalog"; `names` are the settings' keys as 'settings show' prints them.
inline QString conflictText(const QString& what, const QStringList& names)
{
    return QStringLiteral("Nothing was saved: someone else changed these settings of %1 after they were read: %2. "
                          "Look at the stored values and make your change again.")
        .arg(what, names.join(QStringLiteral(", ")));
}

// Captions of the two number fields, used to name them when their text is refused.
inline const QString kFieldFailedConnections = QStringLiteral("Connection attempts before failure");
inline const QString kFieldMinutes = QStringLiteral("Delay full synchronization upon reconnect for this many minutes");

} // namespace fw::settings_text
