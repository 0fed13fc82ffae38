# Tests of link_session.
