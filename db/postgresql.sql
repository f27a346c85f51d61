-- Catalogue schema for PostgreSQL, reached through ODBC (psqlODBC).
-- Create the database first, then: psql -d quilora -f db/postgresql.sql
CREATE TABLE TCity (
  CityID INTEGER NOT NULL,
  FatherID INTEGER NOT NULL DEFAULT 0,
  CityName VARCHAR(100),
  LevelIndex INTEGER
);
CREATE INDEX IX_TCity_FatherID ON TCity (FatherID);

CREATE TABLE THospital (
  HospitalID INTEGER NOT NULL,
  pid INTEGER,
  cid INTEGER,
  HospitalName VARCHAR(200)
);
CREATE INDEX IX_THospital_cid ON THospital (cid);

CREATE TABLE TClass (
  ClassID INTEGER NOT NULL,
  HospitalID INTEGER,
  ClassName VARCHAR(200)
);
CREATE INDEX IX_TClass_HospitalID ON TClass (HospitalID);

CREATE TABLE TDoctor (
  DoctorID INTEGER NOT NULL,
  ClassID INTEGER,
  DoctorName VARCHAR(100),
  Title VARCHAR(100)
);
CREATE INDEX IX_TDoctor_ClassID ON TDoctor (ClassID);

CREATE TABLE TUser (
  UserID INTEGER,
  LoginID VARCHAR(50),
  UserName VARCHAR(100),
  Guanxi VARCHAR(50),
  Sex VARCHAR(20),
  Birthday VARCHAR(50),
  CardNo INTEGER
);
CREATE INDEX IX_TUser_LoginID ON TUser (LoginID);

CREATE TABLE TUserTypeArea (
  UserTypeID INTEGER NOT NULL,
  UserTypeName VARCHAR(50)
);

CREATE TABLE TUserTypeCard (
  UserTypeID VARCHAR(100) NOT NULL,
  UserTypeName VARCHAR(50)
);

INSERT INTO TUserTypeArea (UserTypeID, UserTypeName) VALUES (1, '本市用户');
INSERT INTO TUserTypeArea (UserTypeID, UserTypeName) VALUES (2, '外地用户');
INSERT INTO TUserTypeCard (UserTypeID, UserTypeName) VALUES ('1', '就诊卡');
INSERT INTO TUserTypeCard (UserTypeID, UserTypeName) VALUES ('2', '医保卡');
INSERT INTO TUserTypeCard (UserTypeID, UserTypeName) VALUES ('3', '身份证');

-- Added after the first catalogues: the program creates these two tables when
-- it opens a catalogue that lacks them, so they are written to run again harmlessly.
-- The auto-booking list: one row per watched slot of an installation's card.
CREATE TABLE IF NOT EXISTS TWatchSlot (
  LoginID VARCHAR(50) NOT NULL,
  ListOrder INTEGER NOT NULL,
  PatientCardNo INTEGER NOT NULL,
  PatientName VARCHAR(100),
  HospitalID INTEGER,
  HospitalName VARCHAR(200),
  DoctorID INTEGER NOT NULL,
  DoctorName VARCHAR(100),
  SN INTEGER NOT NULL,
  SlotDate VARCHAR(10),
  TimeID INTEGER,
  TypeID INTEGER,
  WeekID INTEGER,
  Url VARCHAR(300),
  SlotState INTEGER,
  ReleaseAt VARCHAR(8),
  Armed INTEGER NOT NULL DEFAULT 0,
  WatchState VARCHAR(20),
  Polls INTEGER NOT NULL DEFAULT 0,
  LastAnswer VARCHAR(200)
);

-- One row per booking attempt; only its outcome is ever written after the insert.
CREATE TABLE IF NOT EXISTS TBookingRecord (
  RecordID SERIAL PRIMARY KEY,
  AttemptKey VARCHAR(160) NOT NULL,
  StartedAt VARCHAR(30) NOT NULL,
  LoginID VARCHAR(50),
  PatientCardNo INTEGER,
  PatientName VARCHAR(100),
  HospitalID INTEGER,
  HospitalName VARCHAR(200),
  DoctorID INTEGER,
  DoctorName VARCHAR(100),
  SN INTEGER,
  SlotDate VARCHAR(10),
  TimeID INTEGER,
  Origin VARCHAR(20) NOT NULL,
  Outcome VARCHAR(20) NOT NULL,
  Answer VARCHAR(1000),
  ReleaseToRegisterMs INTEGER,
  Requests INTEGER
);
