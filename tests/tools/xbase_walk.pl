#!/usr/bin/perl
# Walks an NTX index with Perl XBase (Debian libdbd-xbase-perl), a reader written by others:
# one line per entry, the record number and the key bytes in upper-case hexadecimal.
use strict;
use warnings;
use XBase::Index;

my $file = shift or die "usage: xbase_walk.pl FILE.NTX\n";
my $index = XBase::Index->new($file, type => 'C') or die XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $record) = $index->fetch) {
    printf "%d\t%s\n", $record, uc unpack('H*', $key);
}
