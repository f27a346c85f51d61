-- Catalogue schema for Microsoft SQL Server (reached through ODBC).
-- Run with: sqlcmd -S host\instance -d QUILORA -i db/sqlserver.sql
CREATE TABLE TCity (
  CityID INTEGER NOT NULL,
  FatherID INTEGER NOT NULL DEFAULT 0,
  CityName NVARCHAR(100),
  LevelIndex INTEGER
);
CREATE INDEX IX_TCity_FatherID ON TCity (FatherID);

CREATE TABLE THospital (
  HospitalID INTEGER NOT NULL,
  pid INTEGER,
  cid INTEGER,
  HospitalName NVARCHAR(200)
);
CREATE INDEX IX_THospital_cid ON THospital (cid);

CREATE TABLE TClass (
  ClassID INTEGER NOT NULL,
  HospitalID INTEGER,
  ClassName NVARCHAR(200)
);
CREATE INDEX IX_TClass_HospitalID ON TClass (HospitalID);

CREATE TABLE TDoctor (
  DoctorID INTEGER NOT NULL,
  ClassID INTEGER,
  DoctorName NVARCHAR(100),
  Title NVARCHAR(100)
);
CREATE INDEX IX_TDoctor_ClassID ON TDoctor (ClassID);

CREATE TABLE TUser (
  UserID INTEGER,
  LoginID NVARCHAR(50),
  UserName NVARCHAR(100),
  Guanxi NVARCHAR(50),
  Sex NVARCHAR(20),
  Birthday NVARCHAR(50),
  CardNo INTEGER
);
CREATE INDEX IX_TUser_LoginID ON TUser (LoginID);

CREATE TABLE TUserTypeArea (
  UserTypeID INTEGER NOT NULL,
  UserTypeName NVARCHAR(50)
);

CREATE TABLE TUserTypeCard (
  UserTypeID NVARCHAR(100) NOT NULL,
  UserTypeName NVARCHAR(50)
);

INSERT INTO TUserTypeArea (UserTypeID, UserTypeName) VALUES (1, N'本市用户');
INSERT INTO TUserTypeArea (UserTypeID, UserTypeName) VALUES (2, N'外地用户');
INSERT INTO TUserTypeCard (UserTypeID, UserTypeName) VALUES ('1', N'就诊卡');
INSERT INTO TUserTypeCard (UserTypeID, UserTypeName) VALUES ('2', N'医保卡');
INSERT INTO TUserTypeCard (UserTypeID, UserTypeName) VALUES ('3', N'身份证');

-- Added after the first catalogues: the program creates these two tables when
-- it opens a catalogue that lacks them, so they are written to run again harmlessly.
-- The auto-booking list: one row per watched slot of an installation's card.
IF OBJECT_ID(N'TWatchSlot', N'U') IS NULL
CREATE TABLE TWatchSlot (
  LoginID NVARCHAR(50) NOT NULL,
  ListOrder INTEGER NOT NULL,
  PatientCardNo INTEGER NOT NULL,
  PatientName NVARCHAR(100),
  HospitalID INTEGER,
  HospitalName NVARCHAR(200),
  DoctorID INTEGER NOT NULL,
  DoctorName NVARCHAR(100),
  SN INTEGER NOT NULL,
  SlotDate NVARCHAR(10),
  TimeID INTEGER,
  TypeID INTEGER,
  WeekID INTEGER,
  Url NVARCHAR(300),
  SlotState INTEGER,
  ReleaseAt NVARCHAR(8),
  Armed INTEGER NOT NULL DEFAULT 0,
  WatchState NVARCHAR(20),
  Polls INTEGER NOT NULL DEFAULT 0,
  LastAnswer NVARCHAR(200)
);

-- One row per booking attempt; only its outcome is ever written after the insert.
IF OBJECT_ID(N'TBookingRecord', N'U') IS NULL
CREATE TABLE TBookingRecord (
  RecordID INTEGER IDENTITY(1,1) PRIMARY KEY,
  AttemptKey NVARCHAR(160) NOT NULL,
  StartedAt NVARCHAR(30) NOT NULL,
  LoginID NVARCHAR(50),
  PatientCardNo INTEGER,
  PatientName NVARCHAR(100),
  HospitalID INTEGER,
  HospitalName NVARCHAR(200),
  DoctorID INTEGER,
  DoctorName NVARCHAR(100),
  SN INTEGER,
  SlotDate NVARCHAR(10),
  TimeID INTEGER,
  Origin NVARCHAR(20) NOT NULL,
  Outcome NVARCHAR(20) NOT NULL,
  Answer NVARCHAR(1000),
  ReleaseToRegisterMs INTEGER,
  Requests INTEGER
);
