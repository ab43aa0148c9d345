-- Product database of mirovandel. Safe to load again: nothing that exists is dropped.
-- The file is UTF-8, whatever the locale of the client that loads it.
SET NAMES utf8mb4;
CREATE DATABASE IF NOT EXISTS base_produtos
  CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE base_produtos;

-- Products by bar code. The program stores codes of fewer than 8 characters padded with "0",
-- GTIN-8 to GTIN-14 as given; the key rejects a second product with the same code.
CREATE TABLE IF NOT EXISTS cad_produtos (
  ean                  VARCHAR(64)  NOT NULL,
  nome                 VARCHAR(200) NULL,
  ncm                  VARCHAR(16)  NULL,
  cest_codigo          VARCHAR(16)  NULL,
  embalagem            VARCHAR(16)  NULL,
  quantidade_embalagem INT          NULL,
  marca                VARCHAR(100) NULL,
  categoria            VARCHAR(100) NULL,
  PRIMARY KEY (ean)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- Units of measure ("UN", "KG", "CX" ...).
CREATE TABLE IF NOT EXISTS unidade_medida (
  id   VARCHAR(16) NOT NULL,
  nome VARCHAR(60) NULL,
  PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- The program's login (fixed in the program; the database server runs on the same machine).
CREATE USER IF NOT EXISTS 'Pelvador'@'127.0.0.1' IDENTIFIED BY 'Rwt507kpxm%';
CREATE USER IF NOT EXISTS 'Pelvador'@'localhost' IDENTIFIED BY 'Rwt507kpxm%';
GRANT SELECT, INSERT, UPDATE, DELETE, CREATE TEMPORARY TABLES
  ON base_produtos.* TO 'Pelvador'@'127.0.0.1';
GRANT SELECT, INSERT, UPDATE, DELETE, CREATE TEMPORARY TABLES
  ON base_produtos.* TO 'Pelvador'@'localhost';
FLUSH PRIVILEGES;
