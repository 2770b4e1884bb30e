file(REMOVE_RECURSE
  "libzurud.a"
)
