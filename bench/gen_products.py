#!/usr/bin/env python3
"""Writes the bench's product codes and the SQL that fills cad_produtos with them.

Usage: gen_products.py OUT_DIR COUNT
  OUT_DIR/codes.txt     every product code, one a line
  OUT_DIR/pictures.txt  the codes that get a picture (the first 1,000)
  OUT_DIR/products.sql  DELETE of those codes, then multi-row INSERTs (accented names too)
"""
import os, random, sys

NAMES = ["Arroz tipo 1", "Feijão carioca", "Açúcar refinado", "Café torrado", "Pão de forma",
         "Leite integral", "Óleo de soja", "Macarrão espaguete", "Sabão em pó", "Água mineral"]
BRANDS = ["Camil", "Kicaldo", "União", "Pilão", "Pullman", "Itambé", "Liza", "Renata", "Omo", "Crystal"]
UNITS = ["UN", "KG", "CX", "PCT", "LT"]

def sql_text(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "''") + "'"

def main():
    out, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    codes = [str(7890000000000 + i * 7) for i in range(count)]
    with open(os.path.join(out, "codes.txt"), "w") as f:
        f.write("\n".join(codes) + "\n")
    with open(os.path.join(out, "pictures.txt"), "w") as f:
        f.write("\n".join(codes[:1000]) + "\n")
    rng = random.Random(7)
    with open(os.path.join(out, "products.sql"), "w", encoding="utf-8") as f:
        f.write("SET NAMES utf8mb4;\n")
        for start in range(0, count, 500):
            part = codes[start:start + 500]
            f.write("DELETE FROM cad_produtos WHERE ean IN (%s);\n" % ",".join(sql_text(c) for c in part))
            rows = []
            for i, c in enumerate(part, start):
                rows.append("(%s,%s,%s,%s,%s,%s,%s,%s)" % (
                    sql_text(c), sql_text("%s %d" % (NAMES[i % 10], i)), sql_text("%08d" % rng.randrange(10**8)),
                    sql_text("%07d" % rng.randrange(10**7)), sql_text(UNITS[i % 5]), sql_text(str(1 + i % 24)),
                    sql_text(BRANDS[i % 10]), sql_text("Mercearia")))
            f.write("INSERT INTO cad_produtos (ean, nome, ncm, cest_codigo, embalagem, quantidade_embalagem,"
                    " marca, categoria) VALUES\n" + ",\n".join(rows) + ";\n")

if __name__ == "__main__":
    main()
