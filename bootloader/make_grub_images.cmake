# Prepares the two boot images from GRUB legacy 0.97's stage1 and
# fat_stage1_5 and writes them as C++ byte arrays. Runs as a script at build
# time (cmake -P), so it works the same in native and cross builds.
#
#   -DSTAGE1=<path of stage1>  -DSTAGE15=<path of fat_stage1_5>  -DOUTPUT=<.cpp>
#
# Every field the card's boot chain relies on is set here; the installer
# writes the images as they are.

cmake_minimum_required(VERSION 3.16)

function(stop message)
  message(FATAL_ERROR "Boot images: ${message}")
endfunction()

# Bytes [offset, offset + count) of a hex string, as lower-case hex.
function(hex_bytes hex offset count out)
  math(EXPR start "${offset} * 2")
  math(EXPR length "${count} * 2")
  string(SUBSTRING "${hex}" ${start} ${length} part)
  set(${out} "${part}" PARENT_SCOPE)
endfunction()

# Replaces the bytes at `offset` with the hex string `bytes`.
function(put_bytes var offset bytes)
  set(hex "${${var}}")
  string(LENGTH "${hex}" total)
  string(LENGTH "${bytes}" length)
  math(EXPR start "${offset} * 2")
  math(EXPR tail "${start} + ${length}")
  if(tail GREATER total)
    stop("internal error: patch at ${offset} runs past the image")
  endif()
  string(SUBSTRING "${hex}" 0 ${start} head)
  string(SUBSTRING "${hex}" ${tail} -1 rest)
  set(${var} "${head}${bytes}${rest}" PARENT_SCOPE)
endfunction()

# Little-endian hex of an unsigned value of `width` bytes.
function(le_hex value width out)
  set(result "")
  foreach(i RANGE 1 ${width})
    math(EXPR byte "${value} & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(REPLACE "0x" "" byte "${byte}")
    string(LENGTH "${byte}" digits)
    if(digits EQUAL 1)
      set(byte "0${byte}")
    endif()
    string(APPEND result "${byte}")
    math(EXPR value "${value} >> 8")
  endforeach()
  string(TOLOWER "${result}" result)
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Hex of a text, without a terminator.
function(text_hex text out)
  string(HEX "${text}" hex)
  string(TOLOWER "${hex}" hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

function(expect_bytes hex offset expected file what)
  string(LENGTH "${expected}" length)
  math(EXPR count "${length} / 2")
  hex_bytes("${hex}" ${offset} ${count} actual)
  if(NOT actual STREQUAL expected)
    stop("${file} is not a GRUB legacy 0.97 image: ${what} expected at byte ${offset} (${expected}), found '${actual}'")
  endif()
endfunction()

# C++ initialiser lines, 16 bytes a line.
function(hex_to_cpp hex out)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " listed "${hex}")
  string(REPEAT "0x[0-9a-f][0-9a-f], " 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " listed "${listed}")
  string(REGEX REPLACE "[ \n]+$" "" listed "${listed}")
  set(${out} "    ${listed}" PARENT_SCOPE)
endfunction()

foreach(var STAGE1 STAGE15 OUTPUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    stop("${var} not given")
  endif()
endforeach()
foreach(input "${STAGE1}" "${STAGE15}")
  if(NOT EXISTS "${input}" OR IS_DIRECTORY "${input}")
    stop("${input} is missing. Install Debian's grub-legacy package (scripts/setup) or point ZEL_GRUB_DIR at a folder holding stage1 and fat_stage1_5.")
  endif()
endforeach()

set(SECTOR 512)
set(STAGE1_BYTES 432)

# Stage 1: the boot code area of the MBR.
file(READ "${STAGE1}" stage1 HEX)
string(TOLOWER "${stage1}" stage1)
string(LENGTH "${stage1}" digits)
math(EXPR stage1_size "${digits} / 2")
if(NOT stage1_size EQUAL SECTOR)
  stop("${STAGE1} has ${stage1_size} bytes, a GRUB stage1 has ${SECTOR}")
endif()
expect_bytes("${stage1}" 0 "eb4890" "${STAGE1}" "the jump EB 48 90")
expect_bytes("${stage1}" 62 "0302" "${STAGE1}" "stage 1 layout version 03 02")
hex_bytes("${stage1}" 0 ${STAGE1_BYTES} stage1)
# Boot from the drive the BIOS passes in DL, with LBA reads where offered;
# load the first stage 1.5 sector (LBA 1) to 0200:0000 and jump to 0x2000.
le_hex(1 4 stage2_sector)
le_hex(0x2000 2 address)
le_hex(0x0200 2 segment)
put_bytes(stage1 64 "ff00${address}${stage2_sector}${segment}")

# Stage 1.5: start sector (LBA 1) and body (LBAs 2 onwards), padded to sectors.
file(READ "${STAGE15}" stage15 HEX)
string(TOLOWER "${stage15}" stage15)
string(LENGTH "${stage15}" digits)
math(EXPR stage15_size "${digits} / 2")
if(stage15_size LESS 1024)
  stop("${STAGE15} has only ${stage15_size} bytes, too short for a GRUB FAT stage 1.5")
endif()
expect_bytes("${stage15}" 512 "ea70220000" "${STAGE15}" "the body's far jump EA 70 22 00 00")
text_hex("0.97" version)
expect_bytes("${stage15}" 530 "${version}00" "${STAGE15}" "the version text \"0.97\"")
expect_bytes("${stage15}" 528 "03" "${STAGE15}" "the FAT stage 1.5 id 03")
math(EXPR sectors "(${stage15_size} + ${SECTOR} - 1) / ${SECTOR}")
# The sectors behind the MBR must stay below the first partition (LBA 256).
if(sectors GREATER 255)
  stop("${STAGE15} needs ${sectors} sectors; at most 255 fit in front of the first partition")
endif()
math(EXPR padding "${sectors} * ${SECTOR} - ${stage15_size}")
if(padding GREATER 0)
  string(REPEAT "00" ${padding} zeros)
  string(APPEND stage15 "${zeros}")
endif()
# Default block list: the rest of stage 1.5 from LBA 2, loaded behind the
# start sector at 0220:0000.
math(EXPR rest "${sectors} - 1")
le_hex(2 4 start)
le_hex(${rest} 2 length)
le_hex(0x0220 2 load)
put_bytes(stage15 504 "${start}${length}${load}")
# Stage 2 and the menu on the boot drive's first primary partition.
put_bytes(stage15 535 "ffff00ff")
text_hex("/boot/grub/stage2 /boot/grub/menu.lst" names)
put_bytes(stage15 539 "${names}00")

hex_to_cpp("${stage1}" stage1_cpp)
hex_to_cpp("${stage15}" stage15_cpp)
math(EXPR stage15_bytes "${sectors} * ${SECTOR}")

set(text "// Generated at build time from ${STAGE1} and ${STAGE15}. Do not edit.\n")
string(APPEND text "#include \"bootloader/grub_images.h\"\n\n")
string(APPEND text "const uint8_t grubStage1Image[GRUB_STAGE1_BYTES] = {\n${stage1_cpp}\n};\n\n")
string(APPEND text "const uint8_t grubStage15Image[${stage15_bytes}] = {\n${stage15_cpp}\n};\n\n")
string(APPEND text "const uint32_t grubStage15Bytes = ${stage15_bytes};\n")

# Rewrite only on change, so an unchanged input does not rebuild its users.
set(previous "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
endif()
if(NOT previous STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
message(STATUS "Boot images: stage 1 ${STAGE1_BYTES} bytes, stage 1.5 ${sectors} sectors")
