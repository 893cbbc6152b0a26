-- VelmoraDb as an embedded SQLite database: the tables and views the settings tool reads and writes.
-- Identifiers and names compare without regard to case, as on SQL Server.
-- The settings columns of ADDomain may hold NULL, as the product's own table allows.

CREATE TABLE ADDomain (
    AdDomainObjectID            TEXT NOT NULL COLLATE NOCASE PRIMARY KEY,
    DomainName                  TEXT NOT NULL,
    CurrentDC                   TEXT,
    ReconnectEnabled            INTEGER DEFAULT 1,
    ReconnectAutoFind           INTEGER DEFAULT 1,
    ReconnectSearchAllSites     INTEGER DEFAULT 0,
    ReconnectLastResortAutoFind INTEGER DEFAULT 0,
    ReconnectFailureThreshold   INTEGER DEFAULT 15,
    ManualDCPrimary             TEXT,
    ManualDCSecondary           TEXT,
    DoTotalResynchUsesRelative  INTEGER DEFAULT 1,
    DoTotalResynchAtTime        INTEGER DEFAULT 0,
    DoTotalResynchAfterMinutes  REAL DEFAULT 0,
    ReconnectOnNextSynch        INTEGER DEFAULT 0
);

CREATE VIEW vw_ADDomain AS SELECT * FROM ADDomain;

CREATE TABLE Configuration (
    NodeID       INTEGER PRIMARY KEY,
    FullNodeName TEXT NOT NULL UNIQUE,
    NodeValue    TEXT
);

CREATE VIEW vw_Configuration AS SELECT NodeID, FullNodeName, NodeValue FROM Configuration;

-- The node write goes through the view, as the stored procedure does on SQL Server.
-- A name that matches no node changes nothing; the caller checks the change count.
CREATE TRIGGER vw_Configuration_update INSTEAD OF UPDATE OF NodeValue ON vw_Configuration
BEGIN
    UPDATE Configuration SET NodeValue = NEW.NodeValue WHERE NodeID = OLD.NodeID;
END;

CREATE TABLE SyncHistoryDC (
    SyncId       INTEGER PRIMARY KEY,
    IsActive     INTEGER NOT NULL,
    SyncStart    TEXT NOT NULL,
    syncEnd      TEXT,
    USNIncrement INTEGER NOT NULL,
    SyncInterval INTEGER NOT NULL
);
CREATE INDEX ix_SyncHistoryDC_IsActive_SyncId ON SyncHistoryDC (IsActive, SyncId);

CREATE TABLE SyncHistoryGC (
    SyncId       INTEGER PRIMARY KEY,
    Server       TEXT,
    IsActive     INTEGER NOT NULL,
    USNIncrement INTEGER NOT NULL,
    SyncInterval INTEGER NOT NULL,
    USNLag       INTEGER NOT NULL DEFAULT 0,
    SyncStart    TEXT NOT NULL,
    syncEnd      TEXT,
    EventFlags   INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX ix_SyncHistoryGC_IsActive_SyncId ON SyncHistoryGC (IsActive, SyncId);

CREATE TABLE SyncHistoryDCDomain (
    SyncId     INTEGER NOT NULL,
    Domain     TEXT NOT NULL,
    Server     TEXT,
    IsActive   INTEGER NOT NULL,
    USNLag     INTEGER NOT NULL DEFAULT 0,
    EventFlags INTEGER NOT NULL DEFAULT 0,
    SyncStart  TEXT NOT NULL,
    PRIMARY KEY (SyncId, Domain)
);

CREATE TABLE SyncHistoryObject (
    SyncId     INTEGER NOT NULL,
    Domain     TEXT NOT NULL,
    IsActive   INTEGER NOT NULL,
    ObjectType TEXT NOT NULL,
    IsDeleted  INTEGER NOT NULL,
    Count      INTEGER,
    Remaining  INTEGER,
    Elasped    INTEGER,
    LastSync   TEXT
);
CREATE INDEX ix_SyncHistoryObject_SyncId_Domain ON SyncHistoryObject (SyncId, Domain);
