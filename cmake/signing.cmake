# Authenticode signatures on what we ship, with osslsigncode: the client
# refuses to start an update that our publisher did not sign.
# QUILLNET_SIGNING_CERT and QUILLNET_SIGNING_KEY (PEM) are the release's when
# the environment names them, otherwise the test identity (src/CMakeLists.txt).
find_program(QUILLNET_OSSLSIGNCODE osslsigncode)

# The signing command line that turns IN into the signed OUT.
function(quillnet_sign_command out in signed)
  set(${out} ${QUILLNET_OSSLSIGNCODE} sign -certs ${QUILLNET_SIGNING_CERT} -key ${QUILLNET_SIGNING_KEY}
      -h sha256 -n Quillnet -in ${in} -out ${signed} PARENT_SCOPE)
endfunction()

# Signs a target's file in place after every link.
function(quillnet_sign target)
  if(NOT QUILLNET_OSSLSIGNCODE)
    message(WARNING "osslsigncode is missing: ${target} is not signed (run scripts/setup)")
    return()
  endif()
  quillnet_sign_command(cmd $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.signed)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${cmd}
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
