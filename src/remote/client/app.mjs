// Application logic of the remote page.
