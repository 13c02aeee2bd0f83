-- The web site's database of a sample day: file_rname already names this week's download files without
-- their "_2" (they are live once the Wednesday removal has renamed them on the FTP server); the product
-- pages (cate3, cate3_info) still point at last week's files until the removal's database update copies
-- the names over. Code 3 has no new file this week, code 5 is not one of the four products.
-- Tables as in tests/integration/mariadb/jobs.sql; loading this file again starts the sample afresh.
DELETE FROM webhost.file_rname;
DELETE FROM webhost.cate3;
DELETE FROM webhost.cate3_info;

INSERT INTO webhost.file_rname (code, rname) VALUES
  ('1', 'ZEPSetup_302.exe'),
  ('2', 'ZEPViewer_v28.exe'),
  ('3', ''),
  ('4', 'ZEPManual_v7.pdf'),
  ('5', 'ZEPBeta_v1.exe');

INSERT INTO webhost.cate3 (idx, DemoDownFile) VALUES
  (48, 'ZEPSetup_301.exe'), (49, 'ZEPViewer_v27.exe'), (50, 'ZEPTools_v3.zip'), (52, 'ZEPInstaller_v11.msi'),
  (86, 'ZEPManual_v6.pdf');

INSERT INTO webhost.cate3_info (idx, DemoDownFile) VALUES
  (62, 'ZEPSetup_301.exe'), (63, 'ZEPViewer_v27.exe'), (64, 'ZEPTools_v3.zip'), (65, 'ZEPInstaller_v11.msi'),
  (88, 'ZEPManual_v6.pdf');
