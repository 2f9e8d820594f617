# Test-signing of the x64 kernel driver. Vista x64 and 7 x64 load only signed kernel drivers; in
# their test-signing mode any certificate will do. The certificate and its key are made once per
# build tree (nothing secret is kept in the sources) and sign the driver after every link, so that
# the file in the build tree is the file that ships. SHA-1 throughout: the code integrity check
# of Vista and of 7 without its later SHA-2 update knows no other digest.
find_program(TAVROL_OPENSSL openssl REQUIRED)
find_program(TAVROL_OSSLSIGNCODE osslsigncode REQUIRED)

set(TAVROL_TEST_SIGNING_DIR ${CMAKE_BINARY_DIR}/test-signing)
set(TAVROL_TEST_SIGNING_KEY ${TAVROL_TEST_SIGNING_DIR}/tavrolin-test.key)
set(TAVROL_TEST_SIGNING_CERT ${TAVROL_TEST_SIGNING_DIR}/tavrolin-test.crt)

add_custom_command(
    OUTPUT ${TAVROL_TEST_SIGNING_KEY} ${TAVROL_TEST_SIGNING_CERT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVROL_TEST_SIGNING_DIR}
    COMMAND ${TAVROL_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha1 -days 7300
            -subj "/CN=Tavrolin test signing (not trusted)"
            -addext "keyUsage=critical,digitalSignature"
            -addext "extendedKeyUsage=codeSigning"
            -keyout ${TAVROL_TEST_SIGNING_KEY} -out ${TAVROL_TEST_SIGNING_CERT}
    COMMENT "Making the test-signing certificate"
    VERBATIM)
add_custom_target(tavrol_test_certificate
    DEPENDS ${TAVROL_TEST_SIGNING_KEY} ${TAVROL_TEST_SIGNING_CERT})

# Signs the kernel driver `target` in place after its link, then sets the PE checksum of the
# signed file (the checksum field lies outside what the signature covers).
function(tavrol_test_sign target description)
    add_dependencies(${target} tavrol_test_certificate)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${TAVROL_OSSLSIGNCODE} sign -certs ${TAVROL_TEST_SIGNING_CERT}
                -key ${TAVROL_TEST_SIGNING_KEY} -h sha1 -n ${description}
                -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
        COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed
                $<TARGET_FILE:${target}>
        COMMAND ${Python3_EXECUTABLE} ${TAVROL_DRIVER_NT_DIR}/set_pe_checksum.py
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
