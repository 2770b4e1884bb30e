# Empty dependencies file for karvo.
# This may be replaced when dependencies are built.
