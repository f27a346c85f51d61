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
