package com.quorvane.infrastructure.network;

/** An IPv4 interface address and its mask, filled in by the native side. */
public class NetworkAddress {
    private final int[] address = new int[4];
    private final int[] mask = new int[4];

    public NetworkAddress() {
    }

    public void setAddress(int a0, int a1, int a2, int a3, int m0, int m1, int m2, int m3) {
        address[0] = a0;
        address[1] = a1;
        address[2] = a2;
        address[3] = a3;
        mask[0] = m0;
        mask[1] = m1;
        mask[2] = m2;
        mask[3] = m3;
    }

    public String getAddress() {
        return address[0] + "." + address[1] + "." + address[2] + "." + address[3];
    }

    public String getMask() {
        return mask[0] + "." + mask[1] + "." + mask[2] + "." + mask[3];
    }

    @Override
    public String toString() {
        return getAddress() + "/" + getMask();
    }
}
