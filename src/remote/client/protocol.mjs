// obs-websocket connection, authentication and SHA-256.
