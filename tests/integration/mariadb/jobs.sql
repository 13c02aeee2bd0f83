-- The two databases the jobs read and update, with the accounts the program uses. Only the columns the jobs
-- rely on; the figures are text columns so that a test can store a value that is not a number.
CREATE DATABASE qz_logs CHARACTER SET utf8mb4;
CREATE TABLE qz_logs.hddfree_m (
  mseq INT PRIMARY KEY,
  svrip VARCHAR(64) NOT NULL,
  log_date DATE NOT NULL
);
CREATE TABLE qz_logs.hddfree_t (
  mseq INT NOT NULL,
  drvname VARCHAR(16) NOT NULL,
  freesize VARCHAR(20),
  diffsize VARCHAR(20),
  KEY (mseq)
);
CREATE USER 'qz_logs_read'@'127.0.0.1' IDENTIFIED BY 'pomel3526';
GRANT SELECT ON qz_logs.* TO 'qz_logs_read'@'127.0.0.1';

CREATE DATABASE webhost CHARACTER SET utf8mb4;
CREATE TABLE webhost.file_rname (
  code VARCHAR(4) NOT NULL,
  rname VARCHAR(255)
);
CREATE TABLE webhost.cate3 (
  idx INT PRIMARY KEY,
  DemoDownFile VARCHAR(255)
);
CREATE TABLE webhost.cate3_info (
  idx INT PRIMARY KEY,
  DemoDownFile VARCHAR(255)
);
CREATE USER 'WebHostUser'@'127.0.0.1' IDENTIFIED BY 'SiteRun4172';
GRANT ALL ON webhost.* TO 'WebHostUser'@'127.0.0.1';
