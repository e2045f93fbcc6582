# Makes ROOT/tree/sub/loop, a symbolic link to ROOT/tree, so that a
# recursive scan of ROOT/tree meets a way back to where it started.
# cmake -DROOT=<dir> -P make_link_tree.cmake
if(NOT ROOT)
  message(FATAL_ERROR "ROOT not given")
endif()
file(REMOVE_RECURSE ${ROOT})
file(MAKE_DIRECTORY ${ROOT}/tree/sub ${ROOT}/out)
file(CREATE_LINK .. ${ROOT}/tree/sub/loop SYMBOLIC)
