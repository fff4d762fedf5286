-- The event database. The program reads every value as text and relies on the
-- table and column names below and on EventID and FileIndex being the integer
-- keys assigned on insertion (never reused, so a larger EventID is a later
-- event). Every statement is idempotent: the program also runs this script on
-- a database that lacks some of the tables.
CREATE TABLE IF NOT EXISTS EventInfo (
    EventID INTEGER PRIMARY KEY AUTOINCREMENT,
    Year INTEGER NOT NULL DEFAULT 0,
    Month INTEGER NOT NULL DEFAULT 0,
    Day INTEGER NOT NULL DEFAULT 0,
    Time TEXT NOT NULL DEFAULT '',
    Type INTEGER NOT NULL DEFAULT 0,
    User TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS FileInfo (
    FileIndex INTEGER PRIMARY KEY AUTOINCREMENT,
    Hash TEXT NOT NULL DEFAULT '',
    Path TEXT NOT NULL DEFAULT '',
    Name TEXT NOT NULL DEFAULT '',
    ID INTEGER NOT NULL DEFAULT 0,
    Account INTEGER NOT NULL DEFAULT 0,
    CreditCard INTEGER NOT NULL DEFAULT 0,
    PhoneNumber INTEGER NOT NULL DEFAULT 0,
    Address INTEGER NOT NULL DEFAULT 0,
    EMail INTEGER NOT NULL DEFAULT 0,
    IPAddress INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS SearchEventLog (
    EventID INTEGER NOT NULL,
    ID INTEGER NOT NULL DEFAULT 0,
    Account INTEGER NOT NULL DEFAULT 0,
    CreditCard INTEGER NOT NULL DEFAULT 0,
    PhoneNumber INTEGER NOT NULL DEFAULT 0,
    Address INTEGER NOT NULL DEFAULT 0,
    EMail INTEGER NOT NULL DEFAULT 0,
    IPAddress INTEGER NOT NULL DEFAULT 0,
    HWP INTEGER NOT NULL DEFAULT 0,
    DOC INTEGER NOT NULL DEFAULT 0,
    XLS INTEGER NOT NULL DEFAULT 0,
    PPT INTEGER NOT NULL DEFAULT 0,
    PDF INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS FileEventLog (
    EventID INTEGER NOT NULL,
    FileIndex INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS ExceptionInfo (
    FileIndex INTEGER NOT NULL,
    EventID INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS PersonalInfo (
    FileIndex INTEGER NOT NULL,
    Type INTEGER NOT NULL,
    Data TEXT NOT NULL DEFAULT ''
);
CREATE INDEX IF NOT EXISTS EventInfoDate ON EventInfo (Year, Month, Day);
CREATE INDEX IF NOT EXISTS FileInfoHash ON FileInfo (Hash);
CREATE INDEX IF NOT EXISTS SearchEventLogEvent ON SearchEventLog (EventID);
CREATE INDEX IF NOT EXISTS FileEventLogEvent ON FileEventLog (EventID);
CREATE INDEX IF NOT EXISTS ExceptionInfoFile ON ExceptionInfo (FileIndex);
CREATE INDEX IF NOT EXISTS ExceptionInfoEvent ON ExceptionInfo (EventID);
CREATE INDEX IF NOT EXISTS PersonalInfoFile ON PersonalInfo (FileIndex);
-- A database made by this script holds only events of the current type-code
-- numbering: it is born migrated.
PRAGMA user_version = 1;
