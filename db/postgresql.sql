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
