# Run by CPack before it packs a build that has the accounts' passwords compiled in.
message(FATAL_ERROR "this build has the accounts' passwords compiled in: package the build of the package "
                    "preset (cmake --preset package), made with -DZEPJOB_COMPILED_PASSWORDS=OFF")
