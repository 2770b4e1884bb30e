# Empty dependencies file for karvo_driver.
# This may be replaced when dependencies are built.
