# Empty dependencies file for zurud.
# This may be replaced when dependencies are built.
