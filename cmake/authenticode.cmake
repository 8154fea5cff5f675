# Authenticode: helligkeit_sign(FILE URL) signs a Windows program or
# installer in place with osslsigncode, where the environment names a
# code-signing certificate and its key in a PKCS#12 file,
# HELLIGKEIT_SIGN_PKCS12, and the file that holds its password,
# HELLIGKEIT_SIGN_PASSWORD_FILE (absolute paths: packaging runs in the build
# folders; make release makes them so); without them it leaves FILE
# unsigned. URL is the address Windows shows beside the signature. It runs
# while the packages are made (the program's install,
# installer/cpack_msi.cmake), so the zip and the installer hold the signed
# program.
#
# Where the environment names an RFC 3161 time-stamping authority,
# HELLIGKEIT_SIGN_TIMESTAMP_URL, it countersigns the signature with the
# time of signing, and Windows goes on taking the signature after the
# code-signing certificate has expired. Without it a signature ends with
# the certificate; it is then dated SOURCE_DATE_EPOCH where that is set, so
# that one key signs one release into the same bytes each time, but no
# earlier than the certificate's start (notBefore, read with openssl), which
# a commit may predate.
function(helligkeit_sign file url)
  if("$ENV{HELLIGKEIT_SIGN_PKCS12}" STREQUAL "")
    return()
  endif()
  if("$ENV{HELLIGKEIT_SIGN_PASSWORD_FILE}" STREQUAL "")
    message(FATAL_ERROR "HELLIGKEIT_SIGN_PKCS12 is set but not HELLIGKEIT_SIGN_PASSWORD_FILE, "
                        "the file that holds the certificate's password")
  endif()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "signing needs osslsigncode: install the Debian package osslsigncode")
  endif()
  set(time "")
  if(NOT "$ENV{HELLIGKEIT_SIGN_TIMESTAMP_URL}" STREQUAL "")
    set(time -ts $ENV{HELLIGKEIT_SIGN_TIMESTAMP_URL})
  elseif(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    # -legacy: a PKCS#12 file may be encrypted as older tools do.
    execute_process(
      COMMAND openssl pkcs12 -legacy -in $ENV{HELLIGKEIT_SIGN_PKCS12} -nokeys -clcerts
              -passin file:$ENV{HELLIGKEIT_SIGN_PASSWORD_FILE}
      COMMAND openssl x509 -noout -startdate
      COMMAND sed s/^notBefore=//
      COMMAND date -u -f - +%s
      OUTPUT_VARIABLE start OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(time -time $ENV{SOURCE_DATE_EPOCH})
    if(start GREATER $ENV{SOURCE_DATE_EPOCH})
      set(time -time ${start})
    endif()
  endif()
  execute_process(
    COMMAND ${OSSLSIGNCODE} sign -pkcs12 $ENV{HELLIGKEIT_SIGN_PKCS12}
            -readpass $ENV{HELLIGKEIT_SIGN_PASSWORD_FILE} -h sha256 -n Helligkeit -i ${url}
            ${time} -in ${file} -out ${file}.signed
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${file}.signed ${file})
  message(STATUS "Signed with Authenticode: ${file}")
endfunction()
