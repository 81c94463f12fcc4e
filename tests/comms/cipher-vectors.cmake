# cmake -DOPENSSL=openssl -DOUT=CipherVectors.h -P cipher-vectors.cmake
# Reference texts made by an independent implementation, the openssl command line: the key and IV from
# PBKDF2-HMAC-SHA1 over the built-in secrets, then AES-256-CBC of plain texts of 0, 1, 15, 16 and 17 bytes.
execute_process(
  COMMAND ${OPENSSL} kdf -keylen 48 -kdfopt digest:SHA1 "-kdfopt" "pass:Greetings, my quiet long tailed owl ~"
          "-kdfopt" "salt:Lorimel tabo VesanQ" -kdfopt iter:1000 PBKDF2
  OUTPUT_VARIABLE derived OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "openssl kdf failed")
endif()
string(REPLACE ":" "" derived "${derived}")
string(TOLOWER "${derived}" derived)
string(SUBSTRING "${derived}" 0 64 key)
string(SUBSTRING "${derived}" 64 32 iv)

get_filename_component(dir "${OUT}" DIRECTORY)
set(alphabet "0123456789abcdefghijklmnop")
set(rows "")
foreach(length 0 1 15 16 17)
  string(SUBSTRING "${alphabet}" 0 ${length} plain)
  set(file "${dir}/cipher-plain-${length}.txt")
  file(WRITE "${file}" "${plain}")
  execute_process(COMMAND ${OPENSSL} enc -aes-256-cbc -K ${key} -iv ${iv} -base64 -A
                  INPUT_FILE "${file}" OUTPUT_VARIABLE cipher OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "openssl enc failed")
  endif()
  string(APPEND rows "    {\"${plain}\", \"${cipher}\"},\n")
endforeach()
file(WRITE "${OUT}.tmp" "// Made at build time by openssl; see cipher-vectors.cmake.\n#pragma once\n
constexpr char kReferenceKeyHex[] = \"${key}\";
constexpr char kReferenceIvHex[] = \"${iv}\";
struct CipherVector
{
    const char* plain;
    const char* base64;
};
constexpr CipherVector kCipherVectors[] = {
${rows}};
")
file(RENAME "${OUT}.tmp" "${OUT}")
