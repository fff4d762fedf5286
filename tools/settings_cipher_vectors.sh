#!/usr/bin/env bash
# Prints the expected ciphertexts of the settings-password cipher tests,
# computed with the openssl command-line tool (AES-128-ECB, PKCS#7 padding)
# over the password's UTF-16LE text and its terminating zero.
#   tools/settings_cipher_vectors.sh [password...]
set -euo pipefail
for arg in "$@"; do
  case "$arg" in
    -h|--help)
      echo "usage: tools/settings_cipher_vectors.sh [PASSWORD...]"
      echo "Prints each password with the expected ciphertext of the settings-password cipher."
      exit 0 ;;
  esac
done
key=50762477336570214e7276234b397132   # the program's settings key bytes
[ $# -gt 0 ] || set -- "비밀번호123" "가" "abcdef" "abcdefg" "한국어암호문장입니다"
for pw in "$@"; do
  hex=$( { printf '%s' "$pw" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0'; } |
         openssl enc -aes-128-ecb -K "$key" -nosalt | od -An -v -tx1 | tr -d ' \n')
  printf '%s\t%s\n' "$pw" "$hex"
done
