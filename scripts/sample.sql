-- A few products and units for trying the service by hand (scripts/testdb sample). Each load
-- puts them back as written here, whatever an earlier load or a test left in their place.
-- The file is UTF-8, whatever the locale of the client that loads it.
SET NAMES utf8mb4;
USE base_produtos;
REPLACE INTO unidade_medida (id, nome) VALUES
  ('UN', 'Unidade'), ('KG', 'Quilograma'), ('CX', 'Caixa'), ('PÇ', 'Peça'), ('LT', 'Litro');
REPLACE INTO cad_produtos
  (ean, nome, ncm, cest_codigo, embalagem, quantidade_embalagem, marca, categoria) VALUES
  ('7891000100103', 'Leite Condensado Moça 395g', '04029900', '1700700', 'UN', 1, 'Nestlé', 'Mercearia'),
  ('7896005800010', 'Café Torrado e Moído 500g', '09012100', '1709600', 'UN', 1, 'Pilão', 'Mercearia'),
  ('7891910000197', 'Açúcar Refinado União 1kg', '17019900', NULL, 'KG', 1, 'União', 'Mercearia'),
  ('7894900011517', 'Refrigerante Guaraná 2L', '22021000', '0300700', 'CX', 6, 'Antarctica', 'Bebidas'),
  ('00012345', 'Pão de Açúcar Artesanal', NULL, NULL, 'UN', NULL, NULL, 'Padaria');
-- The product the README's first POST /api/grava stores: gone again, so that a demo shows it stored.
DELETE FROM cad_produtos WHERE ean = '00004711';
