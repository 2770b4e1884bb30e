file(REMOVE_RECURSE
  "libkarvo_driver.a"
)
