-- The account and database the wrapper's tests connect with.
CREATE DATABASE zeptest CHARACTER SET utf8mb4;
CREATE USER 'zeptest'@'127.0.0.1' IDENTIFIED BY 'zeptest-pw';
GRANT ALL ON *.* TO 'zeptest'@'127.0.0.1';
