-- VelmoraDb on SQL Server: the tables, views and the procedure the settings tool reads, writes and calls,
-- with the column types the product's database uses. Batches end with GO.
-- Identifiers and names compare without regard to case through the database's default collation.

CREATE TABLE ADDomain (
    AdDomainObjectID            nvarchar(64) NOT NULL PRIMARY KEY,
    DomainName                  nvarchar(255) NOT NULL,
    CurrentDC                   nvarchar(255) NULL,
    ReconnectEnabled            bit NULL DEFAULT 1,
    ReconnectAutoFind           bit NULL DEFAULT 1,
    ReconnectSearchAllSites     bit NULL DEFAULT 0,
    ReconnectLastResortAutoFind bit NULL DEFAULT 0,
    ReconnectFailureThreshold   int NULL DEFAULT 15,
    ManualDCPrimary             nvarchar(255) NULL,
    ManualDCSecondary           nvarchar(255) NULL,
    DoTotalResynchUsesRelative  bit NULL DEFAULT 1,
    DoTotalResynchAtTime        smallint NULL DEFAULT 0,
    DoTotalResynchAfterMinutes  float NULL DEFAULT 0,
    ReconnectOnNextSynch        bit NULL DEFAULT 0
)
GO

CREATE VIEW vw_ADDomain AS SELECT * FROM ADDomain
GO

CREATE TABLE Configuration (
    NodeID       int NOT NULL PRIMARY KEY,
    FullNodeName nvarchar(450) NOT NULL UNIQUE,
    NodeValue    nvarchar(4000) NULL
)
GO

CREATE VIEW vw_Configuration AS SELECT NodeID, FullNodeName, NodeValue FROM Configuration
GO

-- Replaces one node's value; a name that matches no node changes nothing (the caller checks first).
CREATE PROCEDURE csp_ConfigurationModify
    @FullName nvarchar(450),
    @Value    nvarchar(4000)
AS
BEGIN
    SET NOCOUNT ON;
    UPDATE Configuration SET NodeValue = @Value WHERE FullNodeName = @FullName;
END
GO

CREATE TABLE SyncHistoryDC (
    SyncId       bigint NOT NULL PRIMARY KEY,
    IsActive     bit NOT NULL,
    SyncStart    datetime NOT NULL,
    syncEnd      datetime NULL,
    USNIncrement int NOT NULL,
    SyncInterval int NOT NULL
)
GO
CREATE INDEX ix_SyncHistoryDC_IsActive_SyncId ON SyncHistoryDC (IsActive, SyncId)
GO

CREATE TABLE SyncHistoryGC (
    SyncId       bigint NOT NULL PRIMARY KEY,
    Server       nvarchar(255) NULL,
    IsActive     bit NOT NULL,
    USNIncrement int NOT NULL,
    SyncInterval int NOT NULL,
    USNLag       bigint NOT NULL DEFAULT 0,
    SyncStart    datetime NOT NULL,
    syncEnd      datetime NULL,
    EventFlags   smallint NOT NULL DEFAULT 0
)
GO
CREATE INDEX ix_SyncHistoryGC_IsActive_SyncId ON SyncHistoryGC (IsActive, SyncId)
GO

CREATE TABLE SyncHistoryDCDomain (
    SyncId     bigint NOT NULL,
    Domain     nvarchar(255) NOT NULL,
    Server     nvarchar(255) NULL,
    IsActive   bit NOT NULL,
    USNLag     bigint NOT NULL DEFAULT 0,
    EventFlags smallint NOT NULL DEFAULT 0,
    SyncStart  datetime NOT NULL,
    PRIMARY KEY (SyncId, Domain)
)
GO

CREATE TABLE SyncHistoryObject (
    SyncId     bigint NOT NULL,
    Domain     nvarchar(255) NOT NULL,
    IsActive   bit NOT NULL,
    ObjectType nvarchar(64) NOT NULL,
    IsDeleted  bit NOT NULL,
    Count      int NULL,
    Remaining  int NULL,
    Elasped    int NULL,
    LastSync   datetime NULL
)
GO
CREATE INDEX ix_SyncHistoryObject_SyncId_Domain ON SyncHistoryObject (SyncId, Domain)
GO
